#include "platform/image/async_poster.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

struct AsyncPoster::Worker {
  struct Queued {
    std::chrono::steady_clock::time_point due;
    Job job;
  };

  explicit Worker(std::chrono::microseconds delay) : delay(delay), thread([this] { run(); }) {}
  void run();

  const std::chrono::microseconds delay;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Queued> queue;
  bool stopping = false;
  std::thread thread;  // last: starts once everything above exists
};

AsyncPoster::AsyncPoster(std::chrono::microseconds delay) : worker_(std::make_unique<Worker>(delay)) {}

AsyncPoster::~AsyncPoster() {
  {
    std::lock_guard<std::mutex> lock(worker_->mutex);
    worker_->stopping = true;
  }
  worker_->wake.notify_all();
  worker_->thread.join();
}

void AsyncPoster::submit(Job job) {
  {
    std::lock_guard<std::mutex> lock(worker_->mutex);
    worker_->queue.push_back(Worker::Queued{std::chrono::steady_clock::now() + worker_->delay, std::move(job)});
  }
  worker_->wake.notify_all();
}

void AsyncPoster::Worker::run() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    wake.wait(lock, [this] { return stopping || !queue.empty(); });
    if (queue.empty()) return;  // stopping, nothing left
    // Only this thread pops, so the front stays put while we wait for it.
    wake.wait_until(lock, queue.front().due, [this] { return stopping; });
    Job job = std::move(queue.front().job);
    queue.pop_front();
    // The job posts, and a posting routine may well send the next request.
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace platform
