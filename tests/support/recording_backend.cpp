#include "support/recording_backend.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "platform/common/scsi_commands.h"
#include "platform/wnaspi32.h"

std::uint32_t RecordingBackend::send(SRB_ExecSCSICmd& srb) {
  RecordedRequest record{srb, {}};
  if (srb.CDBByte[platform::CDB_OPCODE] == platform::OP_WRITE_10) {
    record.out_data.assign(srb.SRB_BufPointer, srb.SRB_BufPointer + srb.SRB_BufLen);
  }
  requests.push_back(record);
  if (completion == Completion::Refuse) return refusal;
  if (completion == Completion::Thread) {
    srb.SRB_Status = SS_PENDING;
    SRB_ExecSCSICmd* block = &srb;
    posters_.emplace_back([this, block] {
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      block->SRB_Status = responder(*block);
      reinterpret_cast<ASPI_POSTPROC>(block->SRB_PostProc)(block);
    });
    return SS_PENDING;
  }
  const bool refuses = completion == Completion::RefuseAndPost || completion == Completion::RefuseAndDefer;
  srb.SRB_Status = responder(srb);
  if (completion == Completion::Deferred || completion == Completion::RefuseAndDefer ||
      completion == Completion::CompleteAndDefer) {
    deferred.store(&srb);
    if (completion == Completion::CompleteAndDefer) return SS_COMP;
    return refuses ? refusal : SS_PENDING;
  }
  reinterpret_cast<ASPI_POSTPROC>(srb.SRB_PostProc)(&srb);  // the block may be gone now
  return refuses ? refusal : SS_COMP;
}

SRB_ExecSCSICmd* post_held_request(RecordingBackend& backend) {
  SRB_ExecSCSICmd* srb = backend.deferred.exchange(nullptr);
  if (srb != nullptr) reinterpret_cast<ASPI_POSTPROC>(srb->SRB_PostProc)(srb);
  return srb;
}

RecordingBackend::~RecordingBackend() {
  for (std::thread& poster : posters_) poster.join();
}

RecordingBackend& install_recording_backend() {
  auto backend = std::make_unique<RecordingBackend>();
  RecordingBackend& reference = *backend;
  platform::install_aspi_backend(std::move(backend));
  return reference;
}

void fill_inquiry_data(SRB_ExecSCSICmd& srb, const char* model) {
  std::uint8_t answer[36] = {0x00, 0x00, 0x02, 0x02, 31};
  std::memcpy(answer + 8, model, std::min<std::size_t>(std::strlen(model), 24));
  std::memcpy(srb.SRB_BufPointer, answer, std::min<std::size_t>(sizeof answer, srb.SRB_BufLen));
}
