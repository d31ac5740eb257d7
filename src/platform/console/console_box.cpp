#include "platform/console/console_box.h"

#include <cctype>
#include <string>

#include "platform/win32_api.h"

namespace platform {
namespace {

constexpr unsigned BUTTONS_MASK = 0x0F;
constexpr unsigned ICON_MASK = 0xF0;
constexpr unsigned ICON_STOP = 0x10;
constexpr unsigned ICON_QUESTION = 0x20;
constexpr unsigned ICON_EXCLAMATION = 0x30;
constexpr unsigned ICON_INFORMATION = 0x40;
constexpr const char* RULE = "+------------------------------------------------------------\n";

bool has_cancel(unsigned style) { return (style & BUTTONS_MASK) == MB_OKCANCEL; }

const char* icon_mark(unsigned style) {
  switch (style & ICON_MASK) {
    case ICON_STOP: return " (X) stop\n";
    case ICON_QUESTION: return " (?) question\n";
    case ICON_EXCLAMATION: return " /!\\ warning\n";
    case ICON_INFORMATION: return " (i) information\n";
    default: return "";
  }
}

// The text goes out exactly as given, line breaks and leading blanks kept.
void draw(std::FILE* out, const char* text, const char* caption, unsigned style) {
  std::fprintf(out, "\n%s| %s\n%s%s%s", RULE, caption ? caption : "", RULE, icon_mark(style), text ? text : "");
  std::fprintf(out, "\n%s", RULE);
  std::fputs(has_cancel(style) ? "   [ OK ]   [ Cancel ]\nAnswer ok or cancel: " : "   [ OK ]\nPress Enter: ", out);
  std::fflush(out);
}

// One line without its end; false at end of input with nothing read.
bool read_line(std::FILE* in, std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(in)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  return c == '\n' || !line.empty();
}

std::string folded(const std::string& line) {
  std::size_t begin = line.find_first_not_of(" \t\r");
  std::size_t end = line.find_last_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  std::string word = line.substr(begin, end - begin + 1);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

// IDOK, IDCANCEL, or 0 for an answer that is neither.
int answer_of(const std::string& line) {
  const std::string word = folded(line);
  if (word == "ok" || word == "o" || word == "yes" || word == "y") return IDOK;
  if (word == "cancel" || word == "c" || word == "no" || word == "n") return IDCANCEL;
  return 0;
}

}  // namespace

int console_message_box(std::FILE* in, std::FILE* out, const char* text, const char* caption, unsigned style) {
  draw(out, text, caption, style);
  std::string line;
  if (!has_cancel(style)) {
    read_line(in, line);
    std::fputc('\n', out);
    return IDOK;
  }
  for (;;) {
    if (!read_line(in, line)) {
      std::fputs("\n(closed: Cancel)\n", out);
      return IDCANCEL;
    }
    if (const int answer = answer_of(line)) return answer;
    std::fputs("\nPlease answer ok or cancel: ", out);
    std::fflush(out);
  }
}

}  // namespace platform
