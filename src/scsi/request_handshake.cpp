#include "scsi/request_handshake.h"

#include <atomic>
#include <new>

#include "scsi/aspi_requests.h"
#include "scsi/request_memory.h"

namespace {

// The request layer's own record behind the published block. Only its
// `posted` flag is shared with the posting thread; the list links are the
// requester's alone.
struct RequestTail {
  std::atomic<bool> posted{false};  // an abandoned request's post has arrived
  SRB_ExecSCSICmd* next_abandoned = nullptr;
  void* owned_data = nullptr;       // given back with the block
  std::size_t data_bytes = 0;
};

// Well past the published block (80 bytes with 32-bit pointers, 88 with
// 64-bit ones) and its 16-byte sense area, so that a layer writing a little
// more sense than asked for still misses it.
constexpr std::size_t TAIL_OFFSET = 128;
static_assert(sizeof(SRB_ExecSCSICmd) <= TAIL_OFFSET);
static_assert(TAIL_OFFSET + sizeof(RequestTail) <= REQUEST_BLOCK_SIZE);
static_assert(TAIL_OFFSET % alignof(RequestTail) == 0);

// The request being waited for; none between requests and once either side
// has claimed it. A block's address cannot come back for a new request while
// its post is still due, because an abandoned block is freed only after its
// post, so the address alone tells the current request from an old one.
std::atomic<SRB_ExecSCSICmd*> awaited_request{nullptr};

// Abandoned requests whose post has not been seen yet, newest first. They
// stay listed (and so reachable) until their post arrives; those still here
// at exit are left to the end of the process, because a layer that still
// holds them might yet write into them.
SRB_ExecSCSICmd* abandoned_requests = nullptr;
std::int32_t abandoned_requests_held = 0;

RequestTail* tail_of(SRB_ExecSCSICmd* srb) {
  return std::launder(reinterpret_cast<RequestTail*>(reinterpret_cast<unsigned char*>(srb) + TAIL_OFFSET));
}

bool claim(SRB_ExecSCSICmd* srb) {
  SRB_ExecSCSICmd* expected = srb;
  return awaited_request.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel,
                                                 std::memory_order_acquire);
}

}  // namespace

void begin_request_handshake(SRB_ExecSCSICmd* srb, void* owned_data, std::size_t data_bytes) {
  RequestTail* tail = new (reinterpret_cast<unsigned char*>(srb) + TAIL_OFFSET) RequestTail{};
  tail->owned_data = owned_data;
  tail->data_bytes = data_bytes;
  awaited_request.store(srb, std::memory_order_release);
}

void release_request(SRB_ExecSCSICmd* srb) {
  RequestTail* tail = tail_of(srb);
  release_request_memory(tail->owned_data, tail->data_bytes);
  tail->~RequestTail();
  release_request_memory(srb, REQUEST_BLOCK_SIZE);
}

bool claim_posted_request(SRB_ExecSCSICmd* srb) {
  if (claim(srb)) return true;
  // The last touch: once the requester sees this, it frees the block.
  tail_of(srb)->posted.store(true, std::memory_order_release);
  return false;
}

bool abandon_request(SRB_ExecSCSICmd* srb) {
  if (!claim(srb)) return false;
  RequestTail* tail = tail_of(srb);
  tail->next_abandoned = abandoned_requests;
  abandoned_requests = srb;
  ++abandoned_requests_held;
  return true;
}

void release_posted_abandoned_requests() {
  SRB_ExecSCSICmd** link = &abandoned_requests;
  while (*link != nullptr) {
    SRB_ExecSCSICmd* srb = *link;
    RequestTail* tail = tail_of(srb);
    if (!tail->posted.load(std::memory_order_acquire)) {
      link = &tail->next_abandoned;
      continue;
    }
    *link = tail->next_abandoned;
    release_request(srb);
    --abandoned_requests_held;
  }
}

std::int32_t abandoned_request_count() { return abandoned_requests_held; }
