// The record through which a request's outcome reaches the requester. The
// ASPI layer's posting routine fills the captures first and stores `status`
// last (release); the requester polls `status` (acquire) and reads the
// captures only once it is non-zero.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int SECTOR_SIZE = 512;
constexpr int INQUIRY_MODEL_LENGTH = 24;  // vendor (8) + product (16)

struct CompletionState {
  // 0 while a request is outstanding, then its SRB_Status byte (1 = SS_COMP).
  std::atomic<std::int32_t> status{0};
  // Adapter, target and model text of the last INQUIRY that completed with
  // SS_COMP. Drive discovery sets the numbers to -1 before each INQUIRY.
  std::int32_t inquiry_host_adapter = 0;
  std::int32_t inquiry_target_id = 0;
  char inquiry_model[INQUIRY_MODEL_LENGTH + 1] = {};
  // Sectors of the disk from the last successful READ CAPACITY(10).
  std::uint32_t capacity = 0;
  // Set while the undo journal reads what a repair will overwrite: its
  // failed requests are recorded in the journal, not reported on the console.
  bool quiet = false;
};

extern CompletionState completion_state;

// True when the request that just returned completed with SS_COMP.
bool last_request_succeeded();
