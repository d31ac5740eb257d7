// GetASPI32SupportInfo and SendASPI32Command of the Windows program: thin
// forwards to the WNASPI32.DLL found at start-up. Without a usable DLL the
// machine has no ASPI for Win32, which the support word says in the
// interface's own terms.
//
// This file also holds the process start-up of the platform layer. It is the
// one object of the platform library the program always links (every run
// probes ASPI), so a start-up object placed here is never dropped by the
// linker.
#include "platform/wnaspi32_dll/aspi_library.h"
#include "platform/console/binary_console.h"

namespace {

struct PlatformStartup {
  platform::AspiLibrary aspi;

  PlatformStartup() {
    platform::use_binary_stdout();
    aspi = platform::load_aspi_library(platform::ASPI_LIBRARY_NAME);
  }
};

// The DLL stays loaded for the life of the process: request blocks may still
// be with its posting thread until the last request has returned.
PlatformStartup& platform_startup() {
  static PlatformStartup startup;
  return startup;
}

// Runs before main, so the banner already goes out in binary mode.
const PlatformStartup& startup_at_load = platform_startup();

}  // namespace

namespace platform {

const AspiLibrary& startup_aspi_library() { return platform_startup().aspi; }

}  // namespace platform

aspi_types::DWORD GetASPI32SupportInfo() {
  const platform::AspiLibrary& aspi = platform::startup_aspi_library();
  if (!aspi.usable()) return platform::ASPI_ABSENT_SUPPORT_WORD;
  return aspi.get_support_info();
}

aspi_types::DWORD SendASPI32Command(LPSRB srb) {
  const platform::AspiLibrary& aspi = platform::startup_aspi_library();
  // Never reached in a run: start-up stops at the support probe when the
  // library is missing. Refused without posting, as a layer would.
  if (!aspi.usable()) return SS_NO_ASPI;
  return aspi.send_command(srb);
}
