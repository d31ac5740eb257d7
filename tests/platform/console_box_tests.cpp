// The console MessageBoxA: what the box shows, which answers close it with
// which button, and how it shares the console with the report. Also Sleep.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "platform/console_hooks.h"
#include "platform/console/console_box.h"
#include "platform/win32_api.h"

namespace {

struct BoxRun {
  int result = 0;
  std::string drawn;
  std::string unread;  // what the box left of the input
};

std::string rest_of(std::FILE* file) {
  std::string text;
  int c;
  while ((c = std::fgetc(file)) != EOF) text.push_back(static_cast<char>(c));
  return text;
}

BoxRun show(const std::string& input, unsigned style, const char* text = "text", const char* caption = "caption") {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::fputs(input.c_str(), in);
  std::rewind(in);
  BoxRun run;
  run.result = platform::console_message_box(in, out, text, caption, style);
  run.unread = rest_of(in);
  std::rewind(out);
  run.drawn = rest_of(out);
  std::fclose(in);
  std::fclose(out);
  return run;
}

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ConsoleBox, OkCancelAnswers) {
  const struct {
    const char* input;
    int expected;
  } cases[] = {
      {"ok\n", IDOK},      {"O\n", IDOK},     {"YES\n", IDOK},       {"  y \n", IDOK},   {"Ok\r\n", IDOK},
      {"ok", IDOK},        {"cancel\n", IDCANCEL}, {"C\n", IDCANCEL}, {"No\n", IDCANCEL}, {"n\r\n", IDCANCEL},
      {"", IDCANCEL},      {"maybe", IDCANCEL},    {"okay\nyess\n", IDCANCEL},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(show(c.input, 0x31).result, c.expected) << '"' << c.input << '"';
  }
}

TEST(ConsoleBox, OtherLinesAskAgainAndLaterLinesStayUnread) {
  BoxRun run = show("\nmaybe\nyes\nnext box\n", 0x31);
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(count_of(run.drawn, "Please answer ok or cancel"), 2);
  EXPECT_EQ(run.unread, "next box\n");
}

TEST(ConsoleBox, OkBoxClosesOnAnyLineOrEndOfInput) {
  BoxRun run = show("cancel\nsecond\n", 0x30);
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(run.unread, "second\n");
  EXPECT_EQ(show("\n", 0).result, IDOK);
  EXPECT_EQ(show("", 0x30).result, IDOK);
  EXPECT_EQ(count_of(show("", 0x30).drawn, "Please answer"), 0);
}

TEST(ConsoleBox, DrawsCaptionTextIconAndButtons) {
  const char* text = "            This program requires\nWindows 98 SE or Windows Millenium";
  const char* caption = "  ERROR: no ASPI for WIN32 support detected !  ";
  BoxRun warning = show("\n", 0x30, text, caption);
  EXPECT_NE(warning.drawn.find(text), std::string::npos) << warning.drawn;
  EXPECT_NE(warning.drawn.find(caption), std::string::npos);
  EXPECT_NE(warning.drawn.find("/!\\"), std::string::npos);
  EXPECT_NE(warning.drawn.find("[ OK ]"), std::string::npos);
  EXPECT_EQ(warning.drawn.find("Cancel"), std::string::npos);

  BoxRun plain = show("\n", 0, "all\n  clear", "report");
  EXPECT_NE(plain.drawn.find("all\n  clear"), std::string::npos);
  EXPECT_EQ(plain.drawn.find("/!\\"), std::string::npos);

  BoxRun question = show("c\n", 0x31);
  EXPECT_NE(question.drawn.find("/!\\"), std::string::npos);
  EXPECT_NE(question.drawn.find("[ Cancel ]"), std::string::npos);
}

// Redirects one of the standard descriptors into a temporary file for the
// life of the object.
class Redirect {
 public:
  Redirect(int fd, const std::string& content) : fd_(fd), file_(std::tmpfile()), saved_(dup(fd)) {
    std::fputs(content.c_str(), file_);
    std::fflush(file_);
    std::rewind(file_);
    dup2(fileno(file_), fd_);
  }
  ~Redirect() {
    dup2(saved_, fd_);
    close(saved_);
    std::fclose(file_);
  }
  std::string written() {
    std::string text;
    char buffer[256];
    for (ssize_t n, at = 0; (n = pread(fileno(file_), buffer, sizeof buffer, at)) > 0; at += n) text.append(buffer, n);
    return text;
  }

 private:
  int fd_;
  std::FILE* file_;
  int saved_;
};

TEST(MessageBoxA, ConsoleBoxReadsStandardInputAndDrawsOnStandardError) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::clearerr(stdin);
  int result = 0;
  std::string drawn;
  {
    Redirect input(0, "n\n");
    Redirect errors(2, "");
    result = MessageBoxA(nullptr, "Write back?", "  confirm  ", 0x31);
    std::fflush(stderr);
    drawn = errors.written();
  }
  std::clearerr(stdin);
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_NE(drawn.find("Write back?"), std::string::npos);
}

TEST(MessageBoxA, ReportIsFlushedBeforeTheHandlerRuns) {
  std::fflush(stdout);
  std::string seen_by_box;
  std::string text, caption;
  unsigned style = 0;
  int result = 0;
  {
    Redirect output(1, "");
    std::printf("ERROR: target device not found");  // no newline: still buffered
    platform::set_message_box_handler([&](const char* t, const char* c, unsigned s) {
      seen_by_box = output.written();
      text = t;
      caption = c;
      style = s;
      return IDCANCEL;
    });
    result = MessageBoxA(nullptr, "body", "head", 0x31);
    platform::set_message_box_handler(nullptr);
    std::fflush(stdout);
  }
  EXPECT_EQ(seen_by_box, "ERROR: target device not found");
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(text, "body");
  EXPECT_EQ(caption, "head");
  EXPECT_EQ(style, 0x31u);
}

TEST(Sleep, CountsCallsAndReallyWaits) {
  const std::uint64_t before = platform::sleep_call_count();
  const auto start = std::chrono::steady_clock::now();
  Sleep(1);
  Sleep(5);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(6));
  EXPECT_EQ(platform::sleep_call_count() - before, 2u);
}

}  // namespace
