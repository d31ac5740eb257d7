// Numbers in the stand-in layer's own settings (ASPI_DISKS, ASPI_SUPPORT):
// decimal, or hexadecimal after "0x"/"0X". No sign, no blanks.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// Stores the value of `text` in `value` and returns true when the whole text
// is a number no greater than `max`; returns false otherwise.
bool parse_unsigned(std::string_view text, std::uint64_t max, std::uint64_t& value);

}  // namespace platform
