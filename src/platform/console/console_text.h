// Text from the disk (long file names, UTF-16) as the console shows it:
// UTF-8 outside Windows, the console's code page on Windows. What the
// console cannot show, control characters and broken surrogate pairs
// among it, becomes '?'.
#pragma once

#include <string>

namespace platform {

std::string console_text(const std::u16string& text);

}  // namespace platform
