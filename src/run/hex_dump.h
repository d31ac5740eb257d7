#pragma once

#include <cstdint>

// Prints `count` bytes as " 0x%x," entries, 16 to a line.
void dump_hex(const std::uint8_t* bytes, std::int32_t count);
