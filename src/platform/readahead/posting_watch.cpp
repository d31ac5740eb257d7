#include "platform/readahead/posting_watch.h"

#include <array>
#include <atomic>

namespace platform {
namespace {

// A place is claimed by its `busy` flag, filled in, and published by storing
// the block's address; whoever clears `block` from that address first (the
// posting or the refusal) finishes the request and frees the place.
struct Watch {
  std::atomic<bool> busy{false};
  std::atomic<SRB_ExecSCSICmd*> block{nullptr};
  void* caller_routine = nullptr;
  PostingWatcher* watcher = nullptr;
};

// Far more than the one request at a time the utility has under way.
std::array<Watch, 32> watches;

Watch* take(SRB_ExecSCSICmd* srb) {
  for (Watch& watch : watches) {
    SRB_ExecSCSICmd* expected = srb;
    if (watch.block.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel)) return &watch;
  }
  return nullptr;
}

void watched_posting(SRB_ExecSCSICmd* srb) {
  Watch* watch = take(srb);
  if (watch == nullptr) return;  // not ours: nothing to give it to
  void* routine = watch->caller_routine;
  PostingWatcher* watcher = watch->watcher;
  watch->busy.store(false, std::memory_order_release);
  srb->SRB_PostProc = routine;
  watcher->watched_completion(*srb);
  // The routine may free the block: nothing touches it afterwards.
  reinterpret_cast<ASPI_POSTPROC>(routine)(srb);
}

}  // namespace

bool watch_posting(SRB_ExecSCSICmd& srb, PostingWatcher& watcher) {
  if ((srb.SRB_Flags & SRB_POSTING) == 0 || srb.SRB_PostProc == nullptr) return false;
  for (Watch& watch : watches) {
    bool free = false;
    if (!watch.busy.compare_exchange_strong(free, true, std::memory_order_acq_rel)) continue;
    watch.caller_routine = srb.SRB_PostProc;
    watch.watcher = &watcher;
    srb.SRB_PostProc = reinterpret_cast<void*>(&watched_posting);
    watch.block.store(&srb, std::memory_order_release);
    return true;
  }
  return false;
}

void unwatch_posting(SRB_ExecSCSICmd& srb) {
  Watch* watch = take(&srb);
  if (watch == nullptr) return;
  srb.SRB_PostProc = watch->caller_routine;
  watch->busy.store(false, std::memory_order_release);
}

}  // namespace platform
