// The poster thread of the Windows build: a Win32 thread, a critical section
// over the queue and an auto-reset event that says "look again".
#include <windows.h>

#include <deque>
#include <mutex>

#include "platform/common/plain_lock.h"
#include "platform/image/async_poster.h"

namespace platform {

struct AsyncPoster::Worker {
  struct Queued {
    std::chrono::steady_clock::time_point due;
    Job job;
  };

  explicit Worker(std::chrono::microseconds delay) : delay(delay) {
    wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, &Worker::thread_start, this, 0, nullptr);
  }
  ~Worker() {
    CloseHandle(thread);
    CloseHandle(wake);
  }

  static DWORD WINAPI thread_start(void* self) {
    static_cast<Worker*>(self)->run();
    return 0;
  }
  void run();
  // Sleeps until the front job is due or the poster is stopping; the lock is
  // held on entry and on return.
  void wait_for_front(std::unique_lock<PlainLock>& lock);

  const std::chrono::microseconds delay;
  PlainLock mutex;
  std::deque<Queued> queue;
  bool stopping = false;
  HANDLE wake = nullptr;
  HANDLE thread = nullptr;
};

AsyncPoster::AsyncPoster(std::chrono::microseconds delay) : worker_(std::make_unique<Worker>(delay)) {}

AsyncPoster::~AsyncPoster() {
  {
    std::lock_guard<PlainLock> lock(worker_->mutex);
    worker_->stopping = true;
  }
  SetEvent(worker_->wake);
  WaitForSingleObject(worker_->thread, INFINITE);
}

void AsyncPoster::submit(Job job) {
  {
    std::lock_guard<PlainLock> lock(worker_->mutex);
    worker_->queue.push_back(Worker::Queued{std::chrono::steady_clock::now() + worker_->delay, std::move(job)});
  }
  SetEvent(worker_->wake);
}

void AsyncPoster::Worker::wait_for_front(std::unique_lock<PlainLock>& lock) {
  while (!stopping) {
    const auto left = queue.front().due - std::chrono::steady_clock::now();
    if (left <= left.zero()) return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(left);
    lock.unlock();
    WaitForSingleObject(wake, static_cast<DWORD>(wait.count()));
    lock.lock();
  }
}

void AsyncPoster::Worker::run() {
  std::unique_lock<PlainLock> lock(mutex);
  for (;;) {
    while (!stopping && queue.empty()) {
      lock.unlock();
      WaitForSingleObject(wake, INFINITE);
      lock.lock();
    }
    if (queue.empty()) return;  // stopping, nothing left
    // Only this thread pops, so the front stays put while we wait for it.
    wait_for_front(lock);
    Job job = std::move(queue.front().job);
    queue.pop_front();
    // The job posts, and a posting routine may well send the next request.
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace platform
