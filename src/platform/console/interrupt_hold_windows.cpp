#include "platform/console/interrupt_hold.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<void (*)()> close_action{nullptr};

// Runs on a thread of its own that Windows starts for the event. Closing the
// console cannot be refused: Windows ends the process a few seconds after
// the handler returns, or when it takes too long.
BOOL WINAPI during_writes(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  if (void (*action)() = close_action.load()) action();
  return FALSE;
}

}  // namespace

void hold_console_interrupts(void (*on_close)()) {
  close_action.store(on_close);
  SetConsoleCtrlHandler(during_writes, TRUE);
}

void release_console_interrupts() {
  SetConsoleCtrlHandler(during_writes, FALSE);
  close_action.store(nullptr);
}

}  // namespace platform
