// Seeing the outcome of a request block that the read-ahead cache hands on
// unchanged (a WRITE(10), a READ CAPACITY(10)): its posting routine is
// replaced by one of the cache's while the request is under way. When the
// block is posted, from whatever thread, the caller's routine is put back,
// the watcher looks at the outcome, and the caller's routine is called, once.
// Lock-free: a fixed table of places, so a caller on Windows needs no thread
// library.
#pragma once

#include "platform/wnaspi32.h"

namespace platform {

class PostingWatcher {
 public:
  virtual ~PostingWatcher() = default;
  // Called with the completed block, its own posting routine back in place,
  // before that routine runs. Must not post.
  virtual void watched_completion(SRB_ExecSCSICmd& srb) = 0;
};

// Places the watch. False, the block untouched, when the block asks for no
// posting routine or all places are taken (many requests under way at once).
bool watch_posting(SRB_ExecSCSICmd& srb, PostingWatcher& watcher);

// After the inner layer refused the block: takes the watch away and puts the
// caller's routine back, unless the block was posted all the same (then the
// watcher has seen it, and the block belongs to the caller again).
void unwatch_posting(SRB_ExecSCSICmd& srb);

}  // namespace platform
