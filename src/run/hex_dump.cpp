#include "run/hex_dump.h"

#include <cstdio>

// Eight entries to a group, sixteen to a line; the line break comes after the
// group blank, so every full line but the last ends with a blank.
void dump_hex(const std::uint8_t* bytes, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (i % 8 == 0) std::putchar(' ');
    if (i % 16 == 0) std::putchar('\n');
    std::printf(" 0x%x,", static_cast<unsigned>(bytes[i]));
  }
  std::putchar('\n');
}
