// Each request owns a freshly allocated 256-byte block from the moment it is
// built until the posting routine frees it; INQUIRY and READ CAPACITY also
// own a 64-byte data buffer with the same lifetime. The requester hands both
// to the ASPI layer and then only watches `completion_state.status`, for a
// bounded time; a request it gives up on stays allocated until its post
// arrives (request_handshake.h).
#include "scsi/aspi_requests.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/common/scsi_commands.h"
#include "platform/win32_api.h"
#include "scsi/completion_state.h"
#include "scsi/request_handshake.h"
#include "scsi/request_memory.h"

namespace {

constexpr std::uint32_t SMALL_DATA_SIZE = 64;  // INQUIRY and READ CAPACITY data

using platform::CAPACITY_LAST_LBA;
using platform::CDB10_SIZE;
using platform::CDB6_SIZE;
using platform::CDB_INQUIRY_ALLOCATION;
using platform::CDB_OPCODE;
using platform::get_be32;
using platform::INQ_MODEL;
using platform::OP_INQUIRY;
using platform::OP_READ_10;
using platform::OP_READ_CAPACITY_10;
using platform::OP_WRITE_10;
using platform::put_cdb10_transfer;

// The status of a request that never reached the ASPI layer for lack of
// memory: all bits set, which print_aspi_status names "No memory!".
constexpr std::int32_t NO_MEMORY_STATUS = -1;

// Stored when a layer posts a request with status byte 0 (still pending):
// not a success, and non-zero so the wait ends.
constexpr std::int32_t POSTED_WITHOUT_STATUS = 0x100;

void* zeroed_heap_memory(std::size_t bytes) { return std::calloc(1, bytes); }

bool owns_data_buffer(std::uint8_t operation) {
  return operation == OP_INQUIRY || operation == OP_READ_CAPACITY_10;
}

void capture_inquiry(const SRB_ExecSCSICmd& srb) {
  completion_state.inquiry_host_adapter = srb.SRB_HaId;
  completion_state.inquiry_target_id = srb.SRB_Target;
  // A bounded copy: a zero byte ends the model text early.
  std::strncpy(completion_state.inquiry_model,
               reinterpret_cast<const char*>(srb.SRB_BufPointer + INQ_MODEL),
               INQUIRY_MODEL_LENGTH);
  completion_state.inquiry_model[INQUIRY_MODEL_LENGTH] = '\0';
}

void capture_capacity(const SRB_ExecSCSICmd& srb) {
  // The last logical block address. The block length that follows is not
  // used: every transfer is 512 bytes.
  completion_state.capacity = get_be32(srb.SRB_BufPointer + CAPACITY_LAST_LBA) + 1;
}

// Every failure but INQUIRY's prints its status line; a failed INQUIRY is a
// target that did not answer, which the scan expects.
void report_failure(std::uint8_t operation, std::int32_t status) {
  if (operation != OP_INQUIRY && !completion_state.quiet) print_aspi_status(static_cast<std::uint32_t>(status));
}

// Everything that depends on the outcome, in the order the requester relies
// on: report, capture, free, and publish the status last.
void finish_request(SRB_ExecSCSICmd* srb, std::int32_t status) {
  const std::uint8_t operation = srb->CDBByte[CDB_OPCODE];
  if (status != SS_COMP) {
    report_failure(operation, status);
  } else if (operation == OP_INQUIRY) {
    capture_inquiry(*srb);
  } else if (operation == OP_READ_CAPACITY_10) {
    capture_capacity(*srb);
  }
  if (owns_data_buffer(operation)) std::free(srb->SRB_BufPointer);
  std::free(srb);
  completion_state.status.store(status, std::memory_order_release);
}

void fail_without_memory() {
  print_aspi_status(static_cast<std::uint32_t>(NO_MEMORY_STATUS));
  completion_state.status.store(NO_MEMORY_STATUS, std::memory_order_release);
}

SRB_ExecSCSICmd* new_request(std::uint8_t host_adapter, std::uint8_t target_id, std::uint8_t flags,
                             std::uint8_t cdb_length) {
  auto* srb = static_cast<SRB_ExecSCSICmd*>(allocate_request_memory(REQUEST_BLOCK_SIZE));
  if (srb == nullptr) return nullptr;
  srb->SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb->SRB_HaId = host_adapter;
  srb->SRB_Flags = flags;
  srb->SRB_Target = target_id;
  srb->SRB_Lun = 0;
  srb->SRB_SenseLen = SENSE_LEN;
  srb->SRB_CDBLen = cdb_length;
  srb->SRB_PostProc = reinterpret_cast<void*>(&aspi_post_completion);
  return srb;
}

// Polls the status with 1 ms sleeps, testing before the first sleep so that
// a request posted inside SendASPI32Command never sleeps. False when
// `limit_ms` passed without a post. The clock, not the count of sleeps,
// bounds the wait: Sleep(1) lasts a whole timer tick on Windows.
bool wait_for_post(std::int32_t limit_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (completion_state.status.load(std::memory_order_acquire) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(1);
  }
  return true;
}

// Hands the block over and waits until the posting routine has published
// the status. From SendASPI32Command on, the block is the layer's: a layer
// may post even a request it refuses, inside the call or later, so the
// requester touches the block again only after winning it back from the
// posting routine. A request nobody posts in time ends with the refusal
// status, or SS_ABORTED when it had been accepted, and is kept until its
// post arrives.
void send_and_wait(SRB_ExecSCSICmd* srb) {
  const std::uint8_t operation = srb->CDBByte[CDB_OPCODE];
  void* const owned_data = owns_data_buffer(operation) ? srb->SRB_BufPointer : nullptr;
  completion_state.status.store(0, std::memory_order_release);
  begin_request_handshake(srb);
  const aspi_types::DWORD accepted = SendASPI32Command(srb);
  const bool refused = accepted != SS_PENDING && accepted != SS_COMP;
  const std::int32_t limit_ms = refused ? request_wait_limits.refusal_grace_ms : request_wait_limits.post_timeout_ms;
  if (!wait_for_post(limit_ms)) {
    if (abandon_request(srb, owned_data)) {
      const std::int32_t status = refused ? static_cast<std::int32_t>(accepted) : SS_ABORTED;
      report_failure(operation, status);
      completion_state.status.store(status, std::memory_order_release);
    } else {
      // The post came just as the wait ran out: it is publishing the status.
      while (completion_state.status.load(std::memory_order_acquire) == 0) Sleep(1);
    }
  }
  release_posted_abandoned_requests();
}

// INQUIRY and READ CAPACITY read into a small buffer the request owns.
void send_small_data_request(std::uint8_t host_adapter, std::uint8_t target_id, std::uint8_t operation,
                             std::uint8_t cdb_length) {
  SRB_ExecSCSICmd* srb = new_request(host_adapter, target_id, SRB_DIR_IN | SRB_POSTING, cdb_length);
  if (srb == nullptr) return fail_without_memory();
  auto* data = static_cast<std::uint8_t*>(allocate_request_memory(SMALL_DATA_SIZE));
  if (data == nullptr) {
    std::free(srb);
    return fail_without_memory();
  }
  srb->SRB_BufLen = SMALL_DATA_SIZE;
  srb->SRB_BufPointer = data;
  srb->CDBByte[CDB_OPCODE] = operation;
  if (operation == OP_INQUIRY) srb->CDBByte[CDB_INQUIRY_ALLOCATION] = SMALL_DATA_SIZE;
  send_and_wait(srb);
}

void send_transfer_request(std::uint8_t host_adapter, std::uint8_t target_id, std::uint8_t operation,
                           std::uint8_t flags, std::uint8_t* buffer, std::uint32_t first_sector,
                           std::uint16_t count) {
  SRB_ExecSCSICmd* srb = new_request(host_adapter, target_id, flags, CDB10_SIZE);
  if (srb == nullptr) return fail_without_memory();
  srb->SRB_BufLen = std::uint32_t{count} * SECTOR_SIZE;
  srb->SRB_BufPointer = buffer;
  srb->CDBByte[CDB_OPCODE] = operation;
  put_cdb10_transfer(srb->CDBByte, first_sector, count);
  send_and_wait(srb);
}

}  // namespace

RequestAllocator allocate_request_memory = zeroed_heap_memory;
RequestWaitLimits request_wait_limits;

void aspi_inquiry(std::uint8_t host_adapter, std::uint8_t target_id) {
  send_small_data_request(host_adapter, target_id, OP_INQUIRY, CDB6_SIZE);
}

void aspi_read_capacity(std::uint8_t host_adapter, std::uint8_t target_id) {
  send_small_data_request(host_adapter, target_id, OP_READ_CAPACITY_10, CDB10_SIZE);
}

void aspi_read_sectors(std::uint8_t host_adapter, std::uint8_t target_id, std::uint8_t* buffer,
                       std::uint32_t first_sector, std::uint16_t count) {
  send_transfer_request(host_adapter, target_id, OP_READ_10, SRB_DIR_IN | SRB_POSTING, buffer, first_sector,
                        count);
}

void aspi_write_sectors(std::uint8_t host_adapter, std::uint8_t target_id, const std::uint8_t* buffer,
                        std::uint32_t first_sector, std::uint16_t count) {
  // The layer only reads from a WRITE(10) buffer; the block's field is not
  // const in the published layout.
  send_transfer_request(host_adapter, target_id, OP_WRITE_10, SRB_DIR_OUT | SRB_POSTING,
                        const_cast<std::uint8_t*>(buffer), first_sector, count);
}

void aspi_post_completion(SRB_ExecSCSICmd* srb) {
  if (!claim_posted_request(srb)) return;  // given up on: the requester frees it
  const std::int32_t status = srb->SRB_Status;
  finish_request(srb, status == SS_PENDING ? POSTED_WITHOUT_STATUS : status);
}
