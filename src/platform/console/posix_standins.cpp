// MessageBoxA and Sleep where USER32 and KERNEL32 are not available.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/console_hooks.h"
#include "platform/console/interrupt_hold.h"
#include "platform/console/console_box.h"
#include "platform/win32_api.h"

namespace platform {
namespace {

std::mutex handler_mutex;
MessageBoxHandler box_handler;
std::atomic<std::uint64_t> sleep_calls{0};

MessageBoxHandler current_handler() {
  std::lock_guard<std::mutex> lock(handler_mutex);
  return box_handler;
}

}  // namespace

void set_message_box_handler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> lock(handler_mutex);
  box_handler = std::move(handler);
}

std::uint64_t sleep_call_count() { return sleep_calls.load(); }

}  // namespace platform

int MessageBoxA(void* /*owner_window*/, const char* text, const char* caption, unsigned style) {
  // Whatever the report has printed so far comes before the box.
  std::fflush(stdout);
  if (platform::MessageBoxHandler handler = platform::current_handler()) return handler(text, caption, style);
  return platform::console_message_box(stdin, stderr, text, caption, style);
}

void Sleep(std::uint32_t milliseconds) {
  platform::sleep_calls.fetch_add(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace platform {

// The POSIX programs are not held during writes: a signal ends them as
// before, and the SCSI generic backend's descriptors are closed by the
// system.
void hold_console_interrupts(void (*)()) {}
void release_console_interrupts() {}

}  // namespace platform
