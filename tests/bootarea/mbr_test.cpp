// Judging sector 0 and its copies, refreshing and restoring them, and the
// fresh MBR.
#include <gtest/gtest.h>

#include <cstring>

#include "boot_area_fixture.h"
#include "bootarea/mbr.h"

namespace {

using fixture::changed_sectors;

class MbrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::fill_pattern(image);
    volume_geometry = VolumeGeometry{};
  }
  BootAreaImage image;
};

TEST_F(MbrTest, FirstAcceptedTypeDecides) {
  std::uint8_t* s = image.sector(0);
  fixture::make_mbr(s, 0, 0x07, 100);
  s[462 + 4] = 0x0C;  // entry 2
  s[462 + 8] = 200;
  s[462 + 9] = 0x01;  // 456
  s[478 + 4] = 0x0B;  // entry 3, never looked at
  s[478 + 8] = 9;
  volume_geometry.volume_start = -5;
  EXPECT_EQ(mbr_check_sector(image, 0), 0);
  EXPECT_EQ(volume_geometry.volume_start, 456);
  EXPECT_EQ(volume_geometry.mbr_found_count, 1);
  EXPECT_EQ(std::memcmp(work_sector, s, 512), 0);
}

TEST_F(MbrTest, EveryAcceptedTypeAndNoOther) {
  for (int type = 0; type < 256; ++type) {
    fixture::make_mbr(image.sector(0), 3, static_cast<std::uint8_t>(type), 63);
    bool accepted = type == 0x06 || type == 0x0B || type == 0x0C || type == 0x0E;
    EXPECT_EQ(mbr_check_sector(image, 0), accepted ? 0 : 1) << type;
  }
  EXPECT_EQ(volume_geometry.mbr_found_count, 4);
}

TEST_F(MbrTest, RejectionChangesNoGeometryButFillsWorkSector) {
  fixture::make_mbr(image.sector(0), 0, 0x83, 63);  // signed, Linux type only
  image.sector(0)[462 + 4] = 0x00;
  volume_geometry.volume_start = 17;
  BootAreaImage before = image;
  EXPECT_EQ(mbr_check_sector(image, 0), 1);
  EXPECT_EQ(volume_geometry.volume_start, 17);
  EXPECT_EQ(volume_geometry.mbr_found_count, 0);
  EXPECT_EQ(std::memcmp(work_sector, image.sector(0), 512), 0);
  EXPECT_TRUE(changed_sectors(before, image).empty());
}

TEST_F(MbrTest, SectorZeroNeedsSignatureCopiesNeedChecksum) {
  fixture::make_mbr(image.sector(0), 0, 0x0B, 63);
  image.sector(0)[511] = 0xAB;
  EXPECT_EQ(mbr_check_sector(image, 0), 1);
  // A copy identical to a signed sector 0 fails its checksum.
  fixture::make_mbr(image.sector(2), 0, 0x0B, 63);
  ASSERT_NE(fixture::byte_sum(image.sector(2), 510), 0x55AA);
  EXPECT_EQ(mbr_check_sector(image, 2), 1);
  fixture::checksum_mbr_copy(image.sector(2));
  EXPECT_EQ(mbr_check_sector(image, 2), 0);
  // ...unless its bytes happen to sum to 0x55AA.
  std::uint8_t* s = image.sector(3);
  fixture::make_mbr(s, 0, 0x0B, 63);
  std::uint16_t sum = fixture::byte_sum(s, 510);
  int fill = (0x55AA - sum + 65536) % 65536;
  for (int k = 100; fill > 0; ++k) {
    int add = fill > 255 - s[k] ? 255 - s[k] : fill;
    s[k] = static_cast<std::uint8_t>(s[k] + add);
    fill -= add;
  }
  ASSERT_EQ(fixture::byte_sum(s, 510), 0x55AA);
  EXPECT_EQ(mbr_check_sector(image, 3), 0);
}

TEST_F(MbrTest, OutOfRangeIndexRejectedFirstSectorTakenAsIs) {
  EXPECT_EQ(mbr_check_sector(image, 8), 1);
  EXPECT_EQ(mbr_check_sector(image, -1), 1);
  fixture::make_mbr(image.sector(0), 0, 0x0E, 0);
  EXPECT_EQ(mbr_check_sector(image, 0), 0);
  EXPECT_EQ(volume_geometry.volume_start, 0);
  fixture::make_mbr(image.sector(0), 0, 0x06, 0xFFFFFFF0u);
  EXPECT_EQ(mbr_check_sector(image, 0), 0);
  EXPECT_EQ(volume_geometry.volume_start, -16);
}

// Copies are compared by sums: a copy with two bytes swapped but a right
// checksum stays; a copy equal to sector 0 with a wrong checksum goes.
TEST_F(MbrTest, RefreshComparesBySums) {
  fixture::make_mbr(image.sector(0), 0, 0x0B, 63);
  fixture::write_mbr_copies(image);
  std::swap(image.sector(2)[10], image.sector(2)[11]);
  image.sector(4)[511] ^= 1;
  image.sector(6)[200] = 0x44;  // stale content, its old checksum
  BootAreaImage before = image;
  ASSERT_EQ(mbr_check_sector(image, 0), 0);
  refresh_mbr_copies(image);
  EXPECT_EQ(changed_sectors(before, image), (std::vector<int>{4, 6}));
  for (int k : {4, 6}) {
    EXPECT_EQ(std::memcmp(image.sector(k), image.sector(0), 510), 0);
    EXPECT_EQ(image.sector(k)[510] * 256 + image.sector(k)[511],
              fixture::byte_sum(image.sector(0), 510));
  }
  EXPECT_EQ(image.sector(0)[510], 0x55);  // sector 0 keeps its signature
}

TEST_F(MbrTest, RefreshRewritesZeroCopies) {
  fixture::make_mbr(image.sector(0), 0, 0x0B, 63);
  for (int k = 1; k <= 7; ++k) std::memset(image.sector(k), 0, 512);
  ASSERT_EQ(mbr_check_sector(image, 0), 0);
  refresh_mbr_copies(image);
  for (int k = 1; k <= 7; ++k) {
    EXPECT_EQ(mbr_check_sector(image, k), 0) << k;
  }
}

TEST_F(MbrTest, RestoreFromCopyLeavesOtherCopies) {
  std::memset(image.sector(0), 0, 512);
  fixture::make_mbr(image.sector(3), 1, 0x0C, 2048);
  fixture::checksum_mbr_copy(image.sector(3));
  BootAreaImage before = image;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(mbr_check_sector(image, i), 1);
  ASSERT_EQ(mbr_check_sector(image, 3), 0);
  restore_mbr(image);
  EXPECT_EQ(changed_sectors(before, image), std::vector<int>{0});
  EXPECT_EQ(std::memcmp(image.sector(0), image.sector(3), 510), 0);
  EXPECT_EQ(image.sector(0)[510], 0x55);
  EXPECT_EQ(image.sector(0)[511], 0xAA);
  EXPECT_EQ(volume_geometry.volume_start, 2048);
}

TEST_F(MbrTest, FreshMbrLayout) {
  std::uint8_t before_work[512];
  std::memcpy(before_work, work_sector, 512);
  BootAreaImage before = image;
  build_fresh_mbr(image, fixture::PLAYER_CAPACITY);
  EXPECT_EQ(changed_sectors(before, image), std::vector<int>{0});
  const std::uint8_t entry[16] = {0x00, 0x01, 0x01, 0x00, 0x0B, 0xFE, 0xFF, 0xFF,
                                  0x3F, 0x00, 0x00, 0x00, 0x99, 0x74, 0xB2, 0x00};
  const std::uint8_t* s = image.sector(0);
  EXPECT_EQ(std::memcmp(s + 446, entry, 16), 0);
  for (int k = 0; k < 510; ++k) {
    if (k < 446 || k >= 462) {
      ASSERT_EQ(s[k], 0) << k;
    }
  }
  EXPECT_EQ(s[510], 0x55);
  EXPECT_EQ(s[511], 0xAA);
  EXPECT_EQ(std::memcmp(before_work, work_sector, 512), 0);
  EXPECT_EQ(volume_geometry.volume_start, 0);
}

// A capacity the disk would not tell (0) or too small for a volume never
// wraps into a huge count, and is refused for writing.
TEST_F(MbrTest, SmallCapacityClampsCountAndIsRefused) {
  for (std::uint32_t capacity : {0u, 1u, 62u, 63u}) {
    build_fresh_mbr(image, capacity);
    EXPECT_EQ(std::memcmp(image.sector(0) + 458, "\0\0\0\0", 4), 0) << capacity;
    EXPECT_FALSE(capacity_allows_fresh_mbr(capacity));
  }
  build_fresh_mbr(image, 64);
  EXPECT_EQ(image.sector(0)[458], 1);
  EXPECT_TRUE(capacity_allows_fresh_mbr(64));
  EXPECT_TRUE(capacity_allows_fresh_mbr(0xFFFFFFFFu));
  build_fresh_mbr(image, 0xFFFFFFFFu);
  EXPECT_EQ(std::memcmp(image.sector(0) + 458, "\xC0\xFF\xFF\xFF", 4), 0);
}

}  // namespace
