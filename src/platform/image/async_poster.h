// The thread on which asynchronous image disks finish their requests. Each
// job runs a fixed delay after it was handed over, so that the requester has
// long returned from SendASPI32Command and is really waiting. Jobs run one
// at a time, in the order given.
//
// The thread itself is the platform's: std::thread on POSIX
// (async_poster_posix.cpp), a Win32 thread in the Windows build, whose C++ run-time
// has no std::thread (async_poster_windows.cpp).
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

class AsyncPoster {
 public:
  using Job = std::function<void()>;

  explicit AsyncPoster(std::chrono::microseconds delay);
  // Runs every job still queued at once (each request is completed exactly
  // once, even at shutdown), then joins the thread.
  ~AsyncPoster();

  AsyncPoster(const AsyncPoster&) = delete;
  AsyncPoster& operator=(const AsyncPoster&) = delete;

  void submit(Job job);

 private:
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace platform
