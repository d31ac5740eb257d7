// The Windows program's platform layer: where its backend comes from, and
// its start-up.
//
// The backend is the machine's WNASPI32.DLL, loaded on the first ASPI call
// (so a help request loads nothing) from the program's folder or the system
// folder only. Without a usable DLL the machine's disks are served through
// Windows' own SCSI pass-through; only when that finds no disk either does the
// program see a machine without ASPI for Win32. Either backend gets the
// read-ahead cache in front of it, unless TESSALY_READAHEAD=0.
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/aspi_backend.h"
#include "platform/console/binary_console.h"
#include "platform/console/sleep_resolution.h"
#include "platform/dispatch/backend_choice.h"
#include "platform/passthrough/passthrough_backend.h"
#include "platform/readahead/read_ahead_backend.h"
#include "platform/wnaspi32_dll/aspi_library.h"
#include "platform/wnaspi32_dll/dll_backend.h"

namespace platform {
namespace {

// The report on standard output must be byte for byte the same as on any
// other system: switched to binary before main prints the banner. This file
// is always linked (the entry points need the backend), so this start-up
// object is never dropped by the linker.
const bool binary_stdout_at_load = use_binary_stdout();

}  // namespace

std::unique_ptr<AspiBackend> make_backend_from_environment() {
  std::unique_ptr<AspiBackend> backend = make_dll_backend();
  if (backend) {
    // A real layer: the completion wait's 1 ms sleeps must be 1 ms.
    hold_1ms_sleep_resolution();
  } else {
    // Answers as a machine without ASPI when it finds no disk. It completes
    // every request inside the call, so the wait never sleeps.
    backend = make_passthrough_backend();
  }
  const char* read_ahead = std::getenv("TESSALY_READAHEAD");
  if (read_ahead != nullptr && std::string_view(read_ahead) == "0") return backend;
  return make_read_ahead_backend(std::move(backend));
}

// The Windows program reads no settings: the support word is the layer's.
std::uint32_t apply_support_override(std::uint32_t word) { return word; }

}  // namespace platform
