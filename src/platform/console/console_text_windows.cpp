#include "platform/console/console_text.h"

#include <windows.h>

namespace platform {

// WideCharToMultiByte with the console's output code page puts '?' for
// what the code page lacks; control characters are replaced beforehand so
// that no name can move the cursor or ring the bell.
std::string console_text(const std::u16string& text) {
  std::wstring wide(text.begin(), text.end());
  for (wchar_t& c : wide) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) c = L'?';
  }
  if (wide.empty()) return {};
  UINT code_page = GetConsoleOutputCP();
  if (code_page == 0) code_page = GetOEMCP();  // no console: the code page a console would have
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = utf8 ? nullptr : "?";
  const int length = WideCharToMultiByte(code_page, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         fallback, nullptr);
  if (length <= 0) return std::string(wide.size(), '?');
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), static_cast<int>(wide.size()), out.data(), length, fallback,
                      nullptr);
  return out;
}

}  // namespace platform
