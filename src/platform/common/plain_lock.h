// A mutual-exclusion lock for the platform layer that every build has. The
// Windows program is built without a POSIX threads library (so that it starts
// on every Windows from 98 SE on), and its C++ run-time then has no
// std::mutex; a critical section takes its place there. Both work with
// std::lock_guard.
#pragma once

#include <mutex>  // std::lock_guard, and std::mutex where it exists

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

#ifdef _WIN32
class PlainLock {
 public:
  PlainLock() { InitializeCriticalSection(&section_); }
  ~PlainLock() { DeleteCriticalSection(&section_); }
  PlainLock(const PlainLock&) = delete;
  PlainLock& operator=(const PlainLock&) = delete;

  void lock() { EnterCriticalSection(&section_); }
  void unlock() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};
#else
using PlainLock = std::mutex;
#endif

}  // namespace platform
