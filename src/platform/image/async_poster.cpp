#include "platform/image/async_poster.h"

namespace platform {

AsyncPoster::AsyncPoster(std::chrono::microseconds delay) : delay_(delay), worker_([this] { run(); }) {}

AsyncPoster::~AsyncPoster() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void AsyncPoster::submit(Job job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Queued{std::chrono::steady_clock::now() + delay_, std::move(job)});
  }
  wake_.notify_all();
}

void AsyncPoster::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, nothing left
    // Only this thread pops, so the front stays put while we wait for it.
    wake_.wait_until(lock, queue_.front().due, [this] { return stopping_; });
    Job job = std::move(queue_.front().job);
    queue_.pop_front();
    // The job posts, and a posting routine may well send the next request.
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace platform
