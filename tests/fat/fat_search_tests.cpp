#include <optional>

#include "fat/fat_search.h"
#include "fat_test_helpers.h"

namespace {

constexpr std::uint32_t BOTH = MATCH_SIGNATURE | MATCH_ZERO_RUN_END;
constexpr std::int32_t UNTOUCHED = 12345;

class FatSearch : public ::testing::Test {
 protected:
  MemoryDisk& disk = install_memory_disk(20000);
  std::int32_t fat1_sum = UNTOUCHED;

  std::optional<std::int32_t> search(std::int32_t first, std::int32_t count, std::uint32_t mode) {
    start_capture();
    std::optional<std::int32_t> found = search_fat(first, count, mode, fat1_sum);
    output = captured();
    return found;
  }
  std::string output;
};

// FAT1 from 95 with data up to 599 and free entries up to 1094, FAT2 at 1095.
TEST_F(FatSearch, FindsSecondFatBehindTheFreeEntriesOfTheFirst) {
  put_fat_signature(disk, 95);
  for (std::uint32_t n = 96; n <= 599; ++n) disk.at(n)[7] = 0x01;
  put_fat_signature(disk, 1095);
  EXPECT_EQ(search(95, FAT_SEARCH_SPAN, BOTH), 1095);
  EXPECT_EQ(fat1_sum, 5 + 504);
  EXPECT_EQ(output, "\n Shearching FAT...\n" + stars(4) + "\n");
  EXPECT_EQ(disk.reads, 1095 - 95 + 1);
}

TEST_F(FatSearch, ZeroRunMustBeginPastSector190) {
  fill_range(disk, 95, 189, 0x01);
  put_fat_signature(disk, 191);
  EXPECT_EQ(search(95, 97, BOTH), std::nullopt);
  EXPECT_EQ(fat1_sum, UNTOUCHED);

  fill_sector(disk, 191, 0x00);
  put_fat_signature(disk, 192);
  EXPECT_EQ(search(95, 200, BOTH), 192);
}

TEST_F(FatSearch, SectorEndingARunWithoutSignatureStartsOver) {
  fill_range(disk, 95, 190, 0x01);
  fill_sector(disk, 200, 0x01);
  put_fat_signature(disk, 201);
  fill_range(disk, 202, 400, 0x01);
  EXPECT_EQ(search(95, 306, BOTH), std::nullopt);
  // Step 401 / 60 = 6 over the absolute sector number: one star per sector
  // until the count has caught up, 400 / 6 = 66 by the last sector.
  EXPECT_EQ(output, "\n Shearching FAT...\n" + stars(66) + "\n");
}

TEST_F(FatSearch, CancellingBytesCountAsZeroSum) {
  fill_range(disk, 95, 190, 0x01);
  disk.at(191)[0] = 0x01;  // begins a run although not all zero
  disk.at(191)[9] = 0xFF;
  disk.at(192)[3] = 0x02;  // continues it
  disk.at(192)[4] = 0xFE;
  put_fat_signature(disk, 193);
  EXPECT_EQ(search(95, 200, BOTH), 193);
}

TEST_F(FatSearch, ZeroSumSignatureSectorMatchesOnlyTheSignatureMode) {
  fill_range(disk, 95, 190, 0x01);
  put_fat_signature(disk, 192);
  disk.at(192)[4] = 0xFB;  // 5 - 5 = 0: does not end the run
  fill_range(disk, 193, 300, 0x01);
  EXPECT_EQ(search(95, 206, BOTH), std::nullopt);
  EXPECT_EQ(search(95, 206, MATCH_SIGNATURE), 192);
}

TEST_F(FatSearch, AllThirtyTwoBitsOfTheSignatureCount) {
  DiskSector& s = disk.at(95);
  s[0] = 0xF8, s[1] = 0xFF, s[2] = 0xFF, s[3] = 0xFF;
  EXPECT_EQ(search(95, 20, MATCH_SIGNATURE), std::nullopt);
}

TEST_F(FatSearch, UnreadableSectorInsideAZeroRunNeitherEndsNorBreaksIt) {
  fill_range(disk, 95, 190, 0x01);
  disk.bad_reads = {192};
  put_fat_signature(disk, 193);
  EXPECT_EQ(search(95, 200, BOTH), 193);
  EXPECT_NE(output.find(std::string(FAILED_REQUEST_LINE) + "ERROR: reading sectors...\n $c0"), std::string::npos);
}

TEST_F(FatSearch, FailedReadsAreListedOnceUnderOneHeaderAndTheScanGoesOn) {
  disk.bad_reads = {300, 301};
  EXPECT_EQ(search(95, FAT_SEARCH_SPAN, BOTH), std::nullopt);
  EXPECT_EQ(output, "\n Shearching FAT...\n*" + std::string(FAILED_REQUEST_LINE) + "ERROR: reading sectors...\n $12c" +
                        FAILED_REQUEST_LINE + " $12d" + stars(59) + "\n");
  EXPECT_EQ(fat1_sum, UNTOUCHED);
  EXPECT_EQ(disk.reads, FAT_SEARCH_SPAN);
}

TEST_F(FatSearch, MatchAfterFailedReadsSumsOnlyReadableSectors) {
  fill_range(disk, 95, 97, 0x01);
  disk.bad_reads = {96};
  put_fat_signature(disk, 98);
  EXPECT_EQ(search(95, 100, MATCH_SIGNATURE), 98);
  EXPECT_EQ(fat1_sum, 1024);
}

TEST_F(FatSearch, SignatureAtTheFirstSectorMatchesAtOnce) {
  put_fat_signature(disk, 95);
  EXPECT_EQ(search(95, FAT_SEARCH_SPAN, MATCH_SIGNATURE), 95);
  EXPECT_EQ(fat1_sum, 0);
  EXPECT_EQ(output, "\n Shearching FAT...\n\n");
}

TEST_F(FatSearch, EmptyRangeReadsNothing) {
  EXPECT_EQ(search(95, 0, MATCH_SIGNATURE), std::nullopt);
  EXPECT_EQ(output, "\n Shearching FAT...\n\n");
  EXPECT_EQ(disk.reads, 0);
}

TEST_F(FatSearch, SumTakesBytesAsSignedAndWrapsAtSixteenBits) {
  fill_sector(disk, 95, 0xFF);
  put_fat_signature(disk, 96);
  EXPECT_EQ(search(95, 100, MATCH_SIGNATURE), 96);
  EXPECT_EQ(fat1_sum, -512);

  fill_sector(disk, 95, 0x7F);
  fill_sector(disk, 96, 0x7F);
  put_fat_signature(disk, 97);
  EXPECT_EQ(search(95, 100, MATCH_SIGNATURE), 97);
  EXPECT_EQ(fat1_sum, -1024);
}

// Ranges ending below sector 60 have a star step of 0; the scan must still
// run to its result without dividing by it.
TEST_F(FatSearch, ShortRangeNearTheDiskStartScansWithoutAZeroStep) {
  fill_range(disk, 0, 39, 0x01);
  put_fat_signature(disk, 40);
  EXPECT_EQ(search(0, 50, MATCH_SIGNATURE), 40);
  EXPECT_EQ(fat1_sum, 40 * 512);
  EXPECT_LE(count_stars(output), 40);
  EXPECT_EQ(search(0, 30, MATCH_SIGNATURE), std::nullopt);
}

}  // namespace
