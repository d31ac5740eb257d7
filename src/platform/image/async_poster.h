// The thread on which asynchronous image disks finish their requests. Each
// job runs a fixed delay after it was handed over, so that the requester has
// long returned from SendASPI32Command and is really waiting. Jobs run one
// at a time, in the order given.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

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
  struct Queued {
    std::chrono::steady_clock::time_point due;
    Job job;
  };

  void run();

  const std::chrono::microseconds delay_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Queued> queue_;
  bool stopping_ = false;
  std::thread worker_;  // last: starts once everything above exists
};

}  // namespace platform
