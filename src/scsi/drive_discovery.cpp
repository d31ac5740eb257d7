#include "scsi/drive_discovery.h"

#include <cstdio>
#include <cstring>

#include "platform/disk_session.h"
#include "platform/wnaspi32.h"
#include "scsi/aspi_requests.h"
#include "scsi/completion_state.h"

TargetDrive target_drive;

const char* const SUPPORTED_DRIVE_MODELS[2] = {
    "TOSHIBA MK6015MAP",
    "FUJITSU MHK2060AT",
};

namespace {

constexpr int TARGET_IDS_PER_ADAPTER = 8;

// Byte-wise and case-sensitive; strncmp stops at the end of the model text,
// so a shorter text never matches a 17-character prefix.
bool is_supported_model(const char* model) {
  for (const char* prefix : SUPPORTED_DRIVE_MODELS) {
    if (std::strncmp(model, prefix, SUPPORTED_MODEL_PREFIX_LENGTH) == 0) return true;
  }
  return false;
}

// True when the target answered INQUIRY: the capture fields were reset to -1
// before the request and only a successful INQUIRY sets them.
bool probe_target(int host_adapter, int target_id) {
  completion_state.inquiry_host_adapter = -1;
  completion_state.inquiry_target_id = -1;
  aspi_inquiry(static_cast<std::uint8_t>(host_adapter), static_cast<std::uint8_t>(target_id));
  return completion_state.inquiry_host_adapter != -1;
}

}  // namespace

AspiSupport check_aspi_support() {
  const aspi_types::DWORD word = GetASPI32SupportInfo();
  const int adapter_count = static_cast<int>(word & 0xFF);
  const int support_status = static_cast<int>((word >> 8) & 0xFF);
  // Only "no adapters, and the layer says all is well" counts as absent; any
  // other word is scanned as it stands.
  if (adapter_count == 0 && support_status == SS_COMP) return AspiSupport{false, 0};
  return AspiSupport{true, adapter_count};
}

AspiSupport find_aspi_support() {
  const AspiSupport support = check_aspi_support();
  if (support.present || !platform::fall_back_to_next_aspi_layer()) return support;
  return check_aspi_support();
}

TargetDrive& find_target_drive(int adapter_count) {
  TargetDrive& drive = select_target_drive(adapter_count);
  if (drive.host_adapter != -1 || !platform::fall_back_to_next_aspi_layer()) return drive;
  const AspiSupport next = check_aspi_support();
  return next.present ? select_target_drive(next.adapter_count) : drive;
}

void claim_target_drive(const TargetDrive& drive) {
  platform::claim_aspi_target(drive.host_adapter, drive.target_id, drive.model);
}

TargetDrive& select_target_drive(int adapter_count) {
  target_drive.host_adapter = -1;
  target_drive.target_id = -1;
  // The scan runs to the end: the last supported drive in scan order wins.
  int answered = 0;
  for (int host_adapter = 0; host_adapter < adapter_count; ++host_adapter) {
    for (int target_id = 0; target_id < TARGET_IDS_PER_ADAPTER; ++target_id) {
      if (!probe_target(host_adapter, target_id)) continue;
      if (!is_supported_model(completion_state.inquiry_model)) continue;
      std::printf("   found Pellora HD '%s'\n", completion_state.inquiry_model);
      target_drive.host_adapter = completion_state.inquiry_host_adapter;
      target_drive.target_id = completion_state.inquiry_target_id;
      ++answered;
      std::memcpy(target_drive.model, completion_state.inquiry_model, sizeof target_drive.model);
    }
  }
  // The report names the model only, and two players of one model look
  // alike: say on standard error which one is checked.
  if (answered > 1) {
    std::fprintf(stderr, "tessaly: %d player disks answered; checking the one at host adapter %d, target id %d\n",
                 answered, target_drive.host_adapter, target_drive.target_id);
  }
  return target_drive;
}

void query_drive_capacity(TargetDrive& drive) {
  aspi_read_capacity(static_cast<std::uint8_t>(drive.host_adapter), static_cast<std::uint8_t>(drive.target_id));
  // Not tested on purpose: a failed query has printed its status line and
  // left the capacity at 0, which the run handles.
  drive.capacity_sectors = completion_state.capacity;
}
