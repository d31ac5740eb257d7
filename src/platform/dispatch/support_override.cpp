#include "platform/dispatch/support_override.h"

#include <ostream>

#include "platform/common/number_text.h"

namespace platform {

bool parse_support_override(const char* text, std::uint32_t& word, std::ostream& errors) {
  if (text == nullptr) return false;
  std::uint64_t value = 0;
  if (!parse_unsigned(text, UINT32_MAX, value)) {
    errors << "ASPI_SUPPORT: '" << text << "' ignored: not a decimal or 0x hexadecimal 32-bit number\n";
    return false;
  }
  word = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace platform
