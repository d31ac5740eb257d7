// GetASPI32SupportInfo and SendASPI32Command of the Windows program: thin
// forwards to the WNASPI32.DLL found at start-up. Without a usable DLL they
// forward to the pass-through backend (the machine's disks through Windows'
// own SCSI pass-through); only when that finds no disk either does the
// machine have no ASPI for Win32, which its support word then says in the
// interface's own terms.
//
// This file also holds the process start-up of the platform layer. It is the
// one object of the platform library the program always links (every run
// probes ASPI), so a start-up object placed here is never dropped by the
// linker.
#include "platform/wnaspi32_dll/aspi_library.h"
#include "platform/console/binary_console.h"
#include "platform/passthrough/passthrough_backend.h"

namespace {

struct PlatformStartup {
  platform::AspiLibrary aspi;
  // Destroyed at exit, after the last request: flushes the disks it wrote.
  std::unique_ptr<platform::AspiBackend> pass_through;

  PlatformStartup() {
    platform::use_binary_stdout();
    aspi = platform::load_aspi_library(platform::ASPI_LIBRARY_NAME);
    if (!aspi.usable()) pass_through = platform::make_passthrough_backend();
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
  if (!aspi.usable()) return platform_startup().pass_through->support_info();
  return aspi.get_support_info();
}

aspi_types::DWORD SendASPI32Command(LPSRB srb) {
  const platform::AspiLibrary& aspi = platform::startup_aspi_library();
  if (!aspi.usable()) {
    if (srb == nullptr) return SS_INVALID_SRB;
    return platform_startup().pass_through->send(*static_cast<SRB_ExecSCSICmd*>(srb));
  }
  return aspi.send_command(srb);
}
