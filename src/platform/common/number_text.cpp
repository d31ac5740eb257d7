#include "platform/common/number_text.h"

namespace platform {
namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

bool parse_unsigned(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::uint64_t result = 0;
  for (char c : text) {
    const int digit = digit_value(c);
    if (digit >= static_cast<int>(base)) return false;
    const auto d = static_cast<std::uint64_t>(digit);
    // Refuse before the multiplication could leave the range.
    if (d > max || result > (max - d) / base) return false;
    result = result * base + d;
  }
  value = result;
  return true;
}

}  // namespace platform
