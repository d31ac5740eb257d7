#include "run/command_line.h"

#include <cstdio>
#include <cstdlib>

// Level 1 from the start; only "-v" changes it. Level 2 and above dump the
// boot-area sectors as they are read.
std::int32_t verbose_level = 1;

namespace {

constexpr int MAX_HEX_DIGITS = 8;

// Every character is taken as a digit: letters A-F and a-f as 10-15, every
// other character as its code minus '0', so "G" is 23 and a blank is -16.
std::int32_t hex_digit_value(unsigned char c) {
  if (c >= 'A' && c <= 'F') return c - 55;
  if (c >= 'a' && c <= 'f') return c - 87;
  return c - 48;
}

std::int32_t parse_hexadecimal(const char* text) {
  std::uint32_t value = 0;
  int taken = 0;
  while (taken < MAX_HEX_DIGITS && text[taken] != '\0') {
    value = value * 16 + static_cast<std::uint32_t>(hex_digit_value(static_cast<unsigned char>(text[taken])));
    ++taken;
  }
  std::printf("AToL: '%s'=$%lx\n", text + taken, static_cast<unsigned long>(value));
  return static_cast<std::int32_t>(value);
}

bool is_option(const char* argument) { return argument[0] == '-' || argument[0] == '/'; }

}  // namespace

std::int32_t AToL(const char* text) {
  const bool hexadecimal = text[0] == '$';
  if (hexadecimal) ++text;
  if (text[0] == '\0') return 0;
  if (hexadecimal) return parse_hexadecimal(text);
  // atol's reading (blanks, sign, digits), without its undefined overflow.
  return static_cast<std::int32_t>(std::strtol(text, nullptr, 10));
}

bool is_help_request(int argc, const char* const* argv) { return argc > 1 && argv[1][0] == '?'; }

bool read_options(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!is_option(argument)) break;  // the first other argument ends the options
    switch (argument[1]) {
      case 's':
        break;
      case 'v': {
        const std::int32_t level = AToL(argument + 2);
        verbose_level = level == 0 ? 1 : level;
        break;
      }
      default:
        std::printf("Option %s not suported. See all features with [?] Option\n", argument + 1);
        return false;
    }
  }
  return true;
}
