// Each request owns a zero-filled 256-byte block from the moment it is built
// until the posting routine gives it back (request_memory.h), and a data
// buffer with the same lifetime: 64 bytes for INQUIRY and READ CAPACITY, the
// sectors' length for READ(10) and WRITE(10). A transfer's buffer starts as
// a copy of the caller's, and a READ(10)'s comes back into the caller's
// buffer only from the side that finishes the request: a layer that
// completes a request after the requester gave up on it writes into memory
// no one else uses. The requester hands block and buffer to the ASPI layer
// and then only watches `completion_state.status`, for a bounded time; a
// request it gives up on stays allocated until its post arrives
// (request_handshake.h).
#include "scsi/aspi_requests.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

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

// The caller's side of the transfer under way: where a READ(10)'s sectors
// go once the request is finished. Set before the block is handed over,
// read only by whoever finishes the request.
struct CallerBuffer {
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
};
CallerBuffer caller_buffer;

// Targets that a WRITE(10) was given up on: the layer may still carry it out
// after any later write to the same sectors, so no later write goes there.
std::vector<std::pair<std::uint8_t, std::uint8_t>> writes_given_up;

// Cleared once a layer has returned SS_COMP for a request without posting it
// within the grace: later SS_COMP returns are taken at once.
bool layer_posts_completed_requests = true;

bool write_given_up(std::uint8_t host_adapter, std::uint8_t target_id) {
  return std::find(writes_given_up.begin(), writes_given_up.end(), std::make_pair(host_adapter, target_id)) !=
         writes_given_up.end();
}

void give_up_writes(std::uint8_t host_adapter, std::uint8_t target_id) {
  if (write_given_up(host_adapter, target_id)) return;
  writes_given_up.emplace_back(host_adapter, target_id);
  std::fflush(stdout);
  std::fprintf(stderr,
               "tessaly: a write to host adapter %d, target id %d was given up without an answer; it may still "
               "reach the disk, so nothing more is written to it in this run\n",
               host_adapter, target_id);
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

// What the outcome means to the caller: its status line, the INQUIRY and
// READ CAPACITY captures, a READ(10)'s sectors in the caller's buffer (as the
// layer left them, whatever the status).
void deliver_outcome(const SRB_ExecSCSICmd& srb, std::int32_t status) {
  const std::uint8_t operation = srb.CDBByte[CDB_OPCODE];
  if (status != SS_COMP) {
    report_failure(operation, status);
  } else if (operation == OP_INQUIRY) {
    capture_inquiry(srb);
  } else if (operation == OP_READ_CAPACITY_10) {
    capture_capacity(srb);
  }
  if (operation == OP_READ_10) std::memcpy(caller_buffer.data, srb.SRB_BufPointer, caller_buffer.length);
}

// Everything that depends on the outcome, in the order the requester relies
// on: deliver, give the memory back, and publish the status last.
void finish_request(SRB_ExecSCSICmd* srb, std::int32_t status) {
  deliver_outcome(*srb, status);
  release_request(srb);
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
// a request posted inside SendASPI32Command never sleeps (nor reads the
// clock). False when `limit_ms` passed without a post. The clock, not the
// count of sleeps, bounds the wait: Sleep(1) lasts a whole timer tick on
// Windows.
bool wait_for_post(std::int32_t limit_ms) {
  if (completion_state.status.load(std::memory_order_acquire) != 0) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (completion_state.status.load(std::memory_order_acquire) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(1);
  }
  return true;
}

// How long to wait for the post of a request that SendASPI32Command
// answered with `accepted`.
std::int32_t wait_limit(aspi_types::DWORD accepted) {
  if (accepted == SS_PENDING) return request_wait_limits.post_timeout_ms;
  if (accepted != SS_COMP) return request_wait_limits.refusal_grace_ms;
  return layer_posts_completed_requests ? request_wait_limits.completed_grace_ms : 0;
}

// The wait ran out and the request is the requester's. Completed by the
// call itself, it is finished here with that outcome; otherwise it fails
// with the refusal, or SS_ABORTED when it had been accepted. Either way the
// block stays with the layer until its post arrives.
void finish_unposted(SRB_ExecSCSICmd* srb, aspi_types::DWORD accepted, std::uint8_t host_adapter,
                     std::uint8_t target_id) {
  const std::uint8_t operation = srb->CDBByte[CDB_OPCODE];
  if (accepted == SS_COMP) {
    layer_posts_completed_requests = false;
    deliver_outcome(*srb, SS_COMP);
    completion_state.status.store(SS_COMP, std::memory_order_release);
    return;
  }
  const bool refused = accepted != SS_PENDING;
  if (!refused && operation == OP_WRITE_10) give_up_writes(host_adapter, target_id);
  const std::int32_t status = refused ? static_cast<std::int32_t>(accepted) : SS_ABORTED;
  report_failure(operation, status);
  completion_state.status.store(status, std::memory_order_release);
}

// Hands the block over and waits until the posting routine has published
// the status. From SendASPI32Command on, the block is the layer's: a layer
// may post even a request it refuses, inside the call or later, so the
// requester touches the block again only after winning it back from the
// posting routine. A request nobody posts in time is finished by the
// requester (finish_unposted) and kept until its post arrives.
void send_and_wait(SRB_ExecSCSICmd* srb) {
  const std::uint8_t host_adapter = srb->SRB_HaId;
  const std::uint8_t target_id = srb->SRB_Target;
  completion_state.status.store(0, std::memory_order_release);
  begin_request_handshake(srb, srb->SRB_BufPointer, srb->SRB_BufLen);
  const aspi_types::DWORD accepted = SendASPI32Command(srb);
  if (!wait_for_post(wait_limit(accepted))) {
    if (abandon_request(srb)) {
      finish_unposted(srb, accepted, host_adapter, target_id);
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
    release_request_memory(srb, REQUEST_BLOCK_SIZE);
    return fail_without_memory();
  }
  srb->SRB_BufLen = SMALL_DATA_SIZE;
  srb->SRB_BufPointer = data;
  srb->CDBByte[CDB_OPCODE] = operation;
  if (operation == OP_INQUIRY) srb->CDBByte[CDB_INQUIRY_ALLOCATION] = SMALL_DATA_SIZE;
  send_and_wait(srb);
}

// A write to a target that a write was given up on fails at once, unsent.
void refuse_write(std::uint8_t operation) {
  report_failure(operation, SS_ABORTED);
  completion_state.status.store(SS_ABORTED, std::memory_order_release);
}

void send_transfer_request(std::uint8_t host_adapter, std::uint8_t target_id, std::uint8_t operation,
                           std::uint8_t flags, std::uint8_t* buffer, std::uint32_t first_sector,
                           std::uint16_t count) {
  if (operation == OP_WRITE_10 && write_given_up(host_adapter, target_id)) return refuse_write(operation);
  const std::uint32_t length = std::uint32_t{count} * SECTOR_SIZE;
  SRB_ExecSCSICmd* srb = new_request(host_adapter, target_id, flags, CDB10_SIZE);
  if (srb == nullptr) return fail_without_memory();
  auto* data = static_cast<std::uint8_t*>(allocate_request_memory_to_fill(length));
  if (data == nullptr) {
    release_request_memory(srb, REQUEST_BLOCK_SIZE);
    return fail_without_memory();
  }
  std::memcpy(data, buffer, length);
  caller_buffer = {buffer, length};
  srb->SRB_BufLen = length;
  srb->SRB_BufPointer = data;
  srb->CDBByte[CDB_OPCODE] = operation;
  put_cdb10_transfer(srb->CDBByte, first_sector, count);
  send_and_wait(srb);
}

}  // namespace

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
  // Only read from: the layer gets a copy.
  send_transfer_request(host_adapter, target_id, OP_WRITE_10, SRB_DIR_OUT | SRB_POSTING,
                        const_cast<std::uint8_t*>(buffer), first_sector, count);
}

void aspi_post_completion(SRB_ExecSCSICmd* srb) {
  if (!claim_posted_request(srb)) return;  // given up on: the requester frees it
  const std::int32_t status = srb->SRB_Status;
  finish_request(srb, status == SS_PENDING ? POSTED_WITHOUT_STATUS : status);
}
