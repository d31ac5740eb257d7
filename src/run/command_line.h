// The command line: help request, options and the number text of "-v".
#pragma once

#include <cstdint>

extern std::int32_t verbose_level;

// Decimal as atol does it, or hexadecimal after "$" (at most 8 digits,
// wrapping at 32 bits; prints a trace line).
std::int32_t AToL(const char* text);

bool is_help_request(int argc, const char* const* argv);

// Reads the options. Returns false after reporting an unknown option letter.
bool read_options(int argc, const char* const* argv);
