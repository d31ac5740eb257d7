#include "scsi/completion_state.h"

#include "platform/wnaspi32.h"

CompletionState completion_state;

bool last_request_succeeded() {
  return completion_state.status.load(std::memory_order_acquire) == SS_COMP;
}
