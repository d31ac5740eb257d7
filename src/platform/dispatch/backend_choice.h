// The settings of the backend choice: the stand-in ASPI layer's environment
// lookups (backend_choice.cpp); the Windows program has none
// (backend_choice_windows.cpp).
#pragma once

#include <cstdint>

#include "platform/aspi_backend.h"

namespace platform {

// The support word as ASPI_SUPPORT forces it, or `word` when it is unset.
std::uint32_t apply_support_override(std::uint32_t word);

}  // namespace platform
