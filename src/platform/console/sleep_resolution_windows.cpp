#include "platform/console/sleep_resolution.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdlib>

namespace platform {
namespace {

constexpr UINT FINEST_PERIOD_MS = 1;

void release_sleep_resolution() { timeEndPeriod(FINEST_PERIOD_MS); }

}  // namespace

void hold_1ms_sleep_resolution() {
  static bool held = false;
  if (held) return;
  held = true;
  // Every timeBeginPeriod needs its timeEndPeriod; a refused one needs none.
  if (timeBeginPeriod(FINEST_PERIOD_MS) == TIMERR_NOERROR) std::atexit(release_sleep_resolution);
}

}  // namespace platform
