#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/command_line.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct Parsed {
  std::int32_t value;
  std::string output;
};

Parsed parse(const char* text) {
  CaptureStdout();
  std::int32_t value = AToL(text);
  return {value, GetCapturedStdout()};
}

TEST(AToL, DecimalFollowsAtolAndPrintsNothing) {
  EXPECT_EQ(parse("12").value, 12);
  EXPECT_EQ(parse("-3").value, -3);
  EXPECT_EQ(parse("12abc").value, 12);
  EXPECT_EQ(parse("abc").value, 0);
  EXPECT_EQ(parse("  7").value, 7);
  for (const char* text : {"12", "-3", "12abc", "abc", "", "$"}) EXPECT_EQ(parse(text).output, "") << text;
  EXPECT_EQ(parse("").value, 0);
  EXPECT_EQ(parse("$").value, 0);
}

TEST(AToL, HexadecimalTakesAtMostEightCharactersAndTracesTheRest) {
  Parsed upper = parse("$1F");
  EXPECT_EQ(upper.value, 31);
  EXPECT_EQ(upper.output, "AToL: ''=$1f\n");
  EXPECT_EQ(parse("$1f").value, 31);

  Parsed nine = parse("$123456789");
  EXPECT_EQ(nine.value, 0x12345678);
  EXPECT_EQ(nine.output, "AToL: '9'=$12345678\n");

  Parsed all_ones = parse("$FFFFFFFF");
  EXPECT_EQ(all_ones.value, -1);
  EXPECT_EQ(all_ones.output, "AToL: ''=$ffffffff\n");
}

TEST(AToL, AnyCharacterCountsAsAHexDigit) {
  EXPECT_EQ(parse("$G1").value, 369);  // G is 23
  EXPECT_EQ(parse("$ 1").value, -16 * 16 + 1);
  Parsed high = parse("$\xff");  // unsigned code 255 - 48
  EXPECT_EQ(high.value, 207);
}

class Options : public testing::Test {
 protected:
  void SetUp() override { verbose_level = 1; }

  bool read(std::vector<const char*> arguments, std::string* output = nullptr) {
    arguments.insert(arguments.begin(), "tessaly");
    CaptureStdout();
    bool accepted = read_options(static_cast<int>(arguments.size()), arguments.data());
    std::string text = GetCapturedStdout();
    if (output) *output = text;
    return accepted;
  }
};

TEST_F(Options, VerboseLevelFromTheOptionLetter) {
  struct Case {
    std::vector<const char*> arguments;
    std::int32_t level;
  } cases[] = {
      {{"-v"}, 1},         {{"-v0"}, 1},        {{"-vabc"}, 1},        {{"-v2"}, 2},
      {{"/v2"}, 2},        {{"-v-1"}, -1},      {{"-v$10"}, 16},       {{"-s", "-v3"}, 3},
      {{"-sanything"}, 1}, {{"1", "-x"}, 1},    {{"+v2"}, 1},          {{"-v", "2"}, 1},
      {{"-v2", "?"}, 2},   {{"-v2", "-v5"}, 5}, {{"-v5", "x", "-v7"}, 5},
  };
  for (const Case& c : cases) {
    verbose_level = 1;
    EXPECT_TRUE(read(c.arguments)) << c.arguments[0];
    EXPECT_EQ(verbose_level, c.level) << c.arguments[0];
  }
}

TEST_F(Options, UnknownLetterIsReportedWithTheTextAfterThePrefix) {
  std::string output;
  EXPECT_FALSE(read({"-x7"}, &output));
  EXPECT_EQ(output, "Option x7 not suported. See all features with [?] Option\n");
  EXPECT_FALSE(read({"-?"}, &output));
  EXPECT_EQ(output, "Option ? not suported. See all features with [?] Option\n");
  EXPECT_FALSE(read({"-"}, &output));
  EXPECT_EQ(output, "Option  not suported. See all features with [?] Option\n");
  EXPECT_FALSE(read({"-V2"}, &output));
  EXPECT_EQ(output, "Option V2 not suported. See all features with [?] Option\n");
  EXPECT_FALSE(read({"-v3", "/q"}, &output));
  EXPECT_EQ(output, "Option q not suported. See all features with [?] Option\n");
}

TEST_F(Options, HexLevelPrintsTheTraceLine) {
  std::string output;
  EXPECT_TRUE(read({"-v$10"}, &output));
  EXPECT_EQ(output, "AToL: ''=$10\n");
}

TEST(HelpRequest, OnlyTheFirstCharacterOfTheFirstArgument) {
  const char* help[] = {"tessaly", "?"};
  const char* help_x[] = {"tessaly", "?x"};
  const char* dash[] = {"tessaly", "-?"};
  const char* second[] = {"tessaly", "-v2", "?"};
  const char* none[] = {"tessaly"};
  EXPECT_TRUE(is_help_request(2, help));
  EXPECT_TRUE(is_help_request(2, help_x));
  EXPECT_FALSE(is_help_request(2, dash));
  EXPECT_FALSE(is_help_request(3, second));
  EXPECT_FALSE(is_help_request(1, none));
}

}  // namespace
