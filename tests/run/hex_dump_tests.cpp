#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "run/hex_dump.h"

namespace {

std::string dump(const std::uint8_t* bytes, std::int32_t count) {
  testing::internal::CaptureStdout();
  dump_hex(bytes, count);
  return testing::internal::GetCapturedStdout();
}

TEST(HexDump, EighteenBytesMakeABlankLineAFullLineAndATwoEntryLine) {
  std::uint8_t bytes[18];
  for (int i = 0; i < 18; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(dump(bytes, 18),
            " \n"
            " 0x0, 0x1, 0x2, 0x3, 0x4, 0x5, 0x6, 0x7,  0x8, 0x9, 0xa, 0xb, 0xc, 0xd, 0xe, 0xf, \n"
            " 0x10, 0x11,\n");
}

TEST(HexDump, EightBytesHaveNoSecondGroupBlank) {
  const std::uint8_t bytes[8] = {0xFF, 0x80, 0, 1, 0x10, 0xAB, 0x55, 0xAA};
  EXPECT_EQ(dump(bytes, 8), " \n 0xff, 0x80, 0x0, 0x1, 0x10, 0xab, 0x55, 0xaa,\n");
}

TEST(HexDump, NothingToDumpPrintsOnlyTheNewline) {
  const std::uint8_t byte = 7;
  EXPECT_EQ(dump(&byte, 0), "\n");
  EXPECT_EQ(dump(&byte, -5), "\n");
}

TEST(HexDump, SectorGivesThirtyTwoLinesOfSixteen) {
  std::uint8_t sector[512] = {};
  const std::string text = dump(sector, 512);
  int lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 33);
  EXPECT_EQ(text.rfind(" 0x0,  0x0,", 0), std::string::npos);  // the first line holds only a blank
  EXPECT_EQ(text.substr(0, 2), " \n");
  EXPECT_EQ(text.substr(text.size() - 6), " 0x0,\n");
}

}  // namespace
