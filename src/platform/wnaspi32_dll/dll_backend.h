// The machine's WNASPI32.DLL as a backend: both calls go straight to the
// DLL's ordinals, and the DLL does the posting.
#pragma once

#include <memory>

#include "platform/aspi_backend.h"

namespace platform {

// The DLL from the program's folder or the system folder (aspi_library.h),
// or nullptr when neither holds a usable one.
std::unique_ptr<AspiBackend> make_dll_backend();

}  // namespace platform
