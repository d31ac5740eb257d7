#include <optional>

#include "fat/fat_sum.h"
#include "fat_test_helpers.h"

namespace {

TEST(FatSumAccumulator, BytesCountAsSignedValuesAndTheSumWrapsAtSixteenBits) {
  DiskSector sector{};
  std::uint16_t acc = 0;
  sector[100] = 0xFF;
  add_to_fat_sum(acc, sector.data());
  EXPECT_EQ(fat_sum_value(acc), -1);

  sector.fill(0x80);  // 512 x -128 = -65,536, which wraps to 0
  acc = 0;
  add_to_fat_sum(acc, sector.data());
  EXPECT_EQ(fat_sum_value(acc), 0);

  sector.fill(0x7F);  // 2 x 65,024 = 130,048, which wraps to -1,024
  acc = 0;
  add_to_fat_sum(acc, sector.data());
  add_to_fat_sum(acc, sector.data());
  EXPECT_EQ(fat_sum_value(acc), -1024);
}

class FatSum : public ::testing::Test {
 protected:
  MemoryDisk& disk = install_memory_disk(20000);
  std::string output;

  std::optional<std::int32_t> sum(std::int32_t first, std::int32_t count) {
    start_capture();
    std::optional<std::int32_t> result = sum_fat_sectors(first, count);
    output = captured();
    return result;
  }
};

TEST_F(FatSum, EmptyRangeYieldsZeroAndPrintsOnlyTheNewline) {
  EXPECT_EQ(sum(1000, 0), 0);
  EXPECT_EQ(output, "\n");
  EXPECT_EQ(disk.reads, 0);
}

TEST_F(FatSum, StarsCountTheDistanceFromTheFirstSector) {
  EXPECT_EQ(sum(1000, 6000), 0);
  EXPECT_EQ(output, stars(59) + "\n");
  EXPECT_EQ(sum(1000, 6001), 0);
  EXPECT_EQ(output, stars(60) + "\n");
  EXPECT_EQ(sum(1000, 119), 0);
  EXPECT_EQ(output, stars(118) + "\n");
}

TEST_F(FatSum, FirstUnreadableSectorEndsTheSumWithoutANewline) {
  fill_sector(disk, 1000, 0x01);
  disk.bad_reads = {1002, 1050};
  EXPECT_EQ(sum(1000, 100), std::nullopt);
  // Step 100 / 60 = 1: the second sector earned one star before the failure.
  EXPECT_EQ(output, "*" + std::string(FAILED_REQUEST_LINE) + "ERROR: reading sectors...\n $3ea");
  EXPECT_EQ(disk.reads, 3);
}

// A sum that really is -1 is a sum, not a failed read.
TEST_F(FatSum, GenuineSumOfMinusOneIsReportedAsAValue) {
  disk.at(1040)[17] = 0xFF;
  EXPECT_EQ(sum(1000, 100), -1);
}

TEST_F(FatSum, OrderOfTheBytesDoesNotMatter) {
  disk.at(1000)[0] = 0x90;
  disk.at(1001)[5] = 0x33;
  disk.at(2001)[500] = 0x90;
  disk.at(2000)[1] = 0x33;
  const std::optional<std::int32_t> a = sum(1000, 2);
  const std::optional<std::int32_t> b = sum(2000, 2);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);
  EXPECT_EQ(*a, 0x33 - 0x70);
}

TEST_F(FatSum, ShortRangeSumsWithoutAZeroStep) {
  fill_range(disk, 1000, 9, 0x01);
  fill_range(disk, 1000, 1009, 0x01);
  EXPECT_EQ(sum(1000, 10), 10 * 512);
  EXPECT_LE(count_stars(output), 10);
  EXPECT_EQ(output.back(), '\n');
}

}  // namespace
