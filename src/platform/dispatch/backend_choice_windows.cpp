// The Windows program's platform layer: where its backend comes from, and
// its start-up.
//
// The backend is the machine's WNASPI32.DLL, loaded on the first ASPI call
// (so a help request loads nothing) from the program's folder or the system
// folder only. Without a usable DLL the program sees a machine without ASPI
// for Win32. This is the one place that picks the backend: a wrapper such as
// a read-ahead cache goes around the DLL's backend here, and another backend
// for machines without the DLL goes in place of the absent one.
#include <memory>

#include "platform/aspi_backend.h"
#include "platform/console/binary_console.h"
#include "platform/console/sleep_resolution.h"
#include "platform/dispatch/backend_choice.h"
#include "platform/wnaspi32_dll/aspi_library.h"
#include "platform/wnaspi32_dll/dll_backend.h"

namespace platform {
namespace {

// What a machine without ASPI for Win32 answers.
class AbsentBackend final : public AspiBackend {
 public:
  std::uint32_t support_info() override { return ASPI_ABSENT_SUPPORT_WORD; }
  // Never reached in a run: start-up stops at the support probe. Refused
  // without posting, as a layer would.
  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    srb.SRB_Status = SS_NO_ASPI;
    return SS_NO_ASPI;
  }
};

// The report on standard output must be byte for byte the same as on any
// other system: switched to binary before main prints the banner. This file
// is always linked (the entry points need the backend), so this start-up
// object is never dropped by the linker.
const bool binary_stdout_at_load = use_binary_stdout();

}  // namespace

std::unique_ptr<AspiBackend> make_backend_from_environment() {
  std::unique_ptr<AspiBackend> backend = make_dll_backend();
  if (!backend) return std::make_unique<AbsentBackend>();
  // A real layer: the completion wait's 1 ms sleeps must be 1 ms.
  hold_1ms_sleep_resolution();
  return backend;
}

// The Windows program reads no settings: the support word is the layer's.
std::uint32_t apply_support_override(std::uint32_t word) { return word; }

}  // namespace platform
