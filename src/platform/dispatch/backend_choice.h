// Environment lookups of the stand-in ASPI layer (see backend_choice.cpp).
#pragma once

#include <cstdint>

#include "platform/aspi_backend.h"

namespace platform {

// The support word as ASPI_SUPPORT forces it, or `word` when it is unset.
std::uint32_t apply_support_override(std::uint32_t word);

}  // namespace platform
