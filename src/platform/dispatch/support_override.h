// ASPI_SUPPORT: a support word that replaces whatever the serving layer
// answers, so that every answer of GetASPI32SupportInfo can be tried out
// (0x0100, for instance, is how a machine without ASPI looks).
#pragma once

#include <cstdint>
#include <iosfwd>

namespace platform {

// True, with the word in `word`, when `text` is set and is a number
// (decimal or 0x hex) of at most 32 bits. Text that is set but no such
// number costs one line on `errors` and is ignored.
bool parse_support_override(const char* text, std::uint32_t& word, std::ostream& errors);

}  // namespace platform
