// Every outcome of the assessment from a boot area built to give it, with
// the sectors it must change and those it must leave alone.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "boot_area_fixture.h"
#include "bootarea/assessment.h"
#include "bootarea/boot_pair.h"
#include "bootarea/mbr.h"
#include "bootarea/templates.h"

namespace {

using fixture::changed_sectors;

class AssessmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::make_partitioned(image);
    volume_geometry = VolumeGeometry{};
  }

  // Assesses the image and checks the status and exactly which sectors
  // changed.
  void expect_outcome(BootAreaStatus status, const std::vector<int>& changed,
                      std::uint32_t capacity = fixture::PLAYER_CAPACITY) {
    before = image;
    EXPECT_EQ(assess_boot_area(image, capacity), status);
    EXPECT_EQ(changed_sectors(before, image), changed);
  }

  bool same(int a, const BootAreaImage& other, int b, int bytes = 512) {
    return std::memcmp(image.sector(a), other.sector(b), bytes) == 0;
  }

  void damage_sector_zero() { image.sector(0)[510] = 0; }
  void damage_primary_pair() {
    image.sector(63)[511] = 0;
    image.sector(64)[100] ^= 1;
  }
  void damage_all_pairs() {
    for (int n : {63, 66, 69, 72}) image.sector(n)[82] = 'X';
  }

  BootAreaImage image;
  BootAreaImage before;
};

TEST_F(AssessmentTest, SoundDiskChangesNothing) {
  expect_outcome(0x0003, {});
  EXPECT_EQ(volume_geometry.volume_start, 63);
}

TEST_F(AssessmentTest, SoundDiskRefreshesOnlyStaleCopies) {
  image.sector(5)[300] ^= 1;
  image.sector(72)[20] ^= 1;
  image.sector(73)[20] ^= 1;
  expect_outcome(0x0003, {5, 72, 73});
  EXPECT_TRUE(same(5, image, 4));
  EXPECT_TRUE(same(72, image, 66));
  EXPECT_TRUE(same(73, image, 67));
}

// Sector 0 and copy 1 gone; copy 2 points at a volume at 20.
TEST_F(AssessmentTest, MbrRestoredFromFirstGoodCopy) {
  std::memset(image.sector(0), 0, 1024);
  fixture::make_mbr(image.sector(2), 2, 0x0B, 20);
  fixture::checksum_mbr_copy(image.sector(2));
  fixture::write_volume(image, 20);
  image.sector(23)[200] ^= 1;  // copy pair A stale
  image.sector(24)[200] ^= 1;
  expect_outcome(0x0103, {0, 23, 24});
  EXPECT_EQ(volume_geometry.volume_start, 20);
  EXPECT_TRUE(same(0, image, 2, 510));
  EXPECT_EQ(image.sector(0)[510], 0x55);
  EXPECT_EQ(image.sector(0)[511], 0xAA);
  EXPECT_TRUE(same(23, image, 29));
}

TEST_F(AssessmentTest, PrimaryPairRestoredFromFirstGoodCopy) {
  damage_primary_pair();
  image.sector(7)[0] ^= 1;
  image.sector(72)[300] = 0x77;  // B differs from A, but is valid too
  fixture::checksum_pair_copy(image.sector(72), image.sector(73));
  expect_outcome(0x0203, {7, 63, 64});
  EXPECT_TRUE(same(63, image, 66));
  EXPECT_TRUE(same(64, image, 67, 510));
  EXPECT_EQ(image.sector(64)[510], 0x55);
}

TEST_F(AssessmentTest, PrimaryPairRestoredFromSignedCopy) {
  damage_primary_pair();
  image.sector(67)[10] ^= 1;
  expect_outcome(0x0203, {63, 64});
  EXPECT_TRUE(same(63, image, 69));
  EXPECT_TRUE(same(64, image, 70));
}

TEST_F(AssessmentTest, BothRestored) {
  damage_sector_zero();
  damage_primary_pair();
  image.sector(66)[510] ^= 1;
  image.sector(69)[510] ^= 1;
  expect_outcome(0x0303, {0, 63, 64});
  EXPECT_TRUE(same(0, image, 1, 510));
  EXPECT_TRUE(same(63, image, 72));
}

TEST_F(AssessmentTest, TemplatesReplaceMissingPairs) {
  damage_all_pairs();
  image.sector(1)[0] ^= 1;
  expect_outcome(0x0403, {1, 63, 64});
  EXPECT_EQ(std::memcmp(image.sector(63), BOOT_SECTOR_TEMPLATE, 512), 0);
  EXPECT_EQ(std::memcmp(image.sector(64), FSINFO_TEMPLATE, 512), 0);
}

TEST_F(AssessmentTest, MbrRestoredAndTemplatesPlaced) {
  damage_sector_zero();
  for (int k = 1; k <= 3; ++k) image.sector(k)[511] ^= 1;
  damage_all_pairs();
  expect_outcome(0x0503, {0, 63, 64});
  EXPECT_TRUE(same(0, image, 4, 510));
  EXPECT_EQ(std::memcmp(image.sector(63), BOOT_SECTOR_TEMPLATE, 512), 0);
}

// A volume start other than 63 with no pair there gets no templates. The
// copy refresh runs first and may rewrite sectors 1-7, which a volume at 0
// shares.
TEST_F(AssessmentTest, NoPairAwayFromSixtyThree) {
  fixture::make_mbr(image.sector(0), 0, 0x0C, 0);
  expect_outcome(0x0001, {1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(volume_geometry.volume_start, 0);
  fixture::write_mbr_copies(image);
  expect_outcome(0x0001, {});
}

TEST_F(AssessmentTest, VolumeOutsideImageFindsNoPair) {
  for (std::uint32_t first : {85u, 94u, 0xFFFFFFFFu, 0x80000000u, 2048u}) {
    fixture::make_mbr(image.sector(0), 0, 0x0C, first);
    fixture::write_mbr_copies(image);
    expect_outcome(0x0001, {});
    EXPECT_EQ(volume_geometry.volume_start, static_cast<std::int32_t>(first));
  }
  // A copy pair in the image does not restore a primary pair outside it.
  fixture::make_mbr(image.sector(0), 0, 0x0C, static_cast<std::uint32_t>(-3));
  fixture::write_mbr_copies(image);
  damage_sector_zero();
  fixture::make_boot_sector(image.sector(3));  // a signed pair at V+6
  fixture::make_fsinfo(image.sector(4));
  expect_outcome(0x0101, {0});
  EXPECT_EQ(volume_geometry.volume_start, -3);
}

TEST_F(AssessmentTest, MbrRestoredAwayFromSixtyThree) {
  damage_sector_zero();
  fixture::make_mbr(image.sector(1), 1, 0x0E, 30);
  fixture::checksum_mbr_copy(image.sector(1));
  expect_outcome(0x0101, {0});
  EXPECT_EQ(volume_geometry.volume_start, 30);
}

// Without an MBR a volume at 63 gets only the fresh MBR in this run; the
// next run restores its primary pair, and the one after finds it sound.
TEST_F(AssessmentTest, MissingMbrRebuiltThenPairRestoredNextRun) {
  for (int k = 0; k <= 7; ++k) std::memset(image.sector(k), 0, 512);
  damage_primary_pair();
  image.sector(66)[0] ^= 1;
  expect_outcome(0x0803, {0});
  EXPECT_EQ(volume_geometry.volume_start, 63);
  EXPECT_NE(image.sector(63)[511], 0xAA);
  expect_outcome(0x0203, {1, 2, 3, 4, 5, 6, 7, 63, 64});
  EXPECT_TRUE(same(63, image, 69));
  expect_outcome(0x0003, {66});  // 67 rewritten with what it held
  expect_outcome(0x0003, {});
}

TEST_F(AssessmentTest, AllZeroDiskGetsFreshLayout) {
  std::memset(image.bytes, 0, sizeof image.bytes);
  std::vector<int> changed(8);
  std::iota(changed.begin(), changed.end(), 0);
  changed.insert(changed.end(), {63, 64});
  expect_outcome(0x0C03, changed);
  EXPECT_EQ(volume_geometry.volume_start, 63);
  EXPECT_EQ(std::memcmp(image.sector(0) + 458, "\x99\x74\xB2\x00", 4), 0);
  volume_geometry.mbr_found_count = 0;
  for (int k = 1; k <= 7; ++k) {
    EXPECT_EQ(mbr_check_sector(image, k), 0) << k;
    EXPECT_TRUE(same(k, image, 0, 510));
  }
  EXPECT_EQ(std::memcmp(image.sector(63), BOOT_SECTOR_TEMPLATE, 512), 0);
  EXPECT_EQ(std::memcmp(image.sector(64), FSINFO_TEMPLATE, 512), 0);
}

// The assessment itself builds with any capacity; the run refuses to write
// an MBR whose capacity is unknown.
TEST_F(AssessmentTest, UnknownCapacityStillAssessed) {
  std::memset(image.bytes, 0, sizeof image.bytes);
  EXPECT_EQ(assess_boot_area(image, 0), 0x0C03);
  EXPECT_EQ(std::memcmp(image.sector(0) + 458, "\0\0\0\0", 4), 0);
}

TEST_F(AssessmentTest, UnpartitionedVolumeConverted) {
  fixture::make_unpartitioned(image);
  BootAreaImage old = image;
  expect_outcome(0x1003, {0, 1, 2, 3, 4, 5, 6, 7, 63, 64, 66, 67, 72, 73});
  EXPECT_EQ(volume_geometry.volume_start, 63);
  EXPECT_EQ(std::memcmp(image.sector(0) + 454, "\x3F\0\0\0", 4), 0);
  EXPECT_EQ(std::memcmp(image.sector(63), BOOT_SECTOR_TEMPLATE, 512), 0);
  for (int copy : {66, 72}) {
    EXPECT_EQ(std::memcmp(image.sector(copy), BOOT_SECTOR_TEMPLATE, 512), 0);
    EXPECT_EQ(std::memcmp(image.sector(copy + 1), FSINFO_TEMPLATE, 510), 0);
    std::uint16_t sum = static_cast<std::uint16_t>(fixture::byte_sum(BOOT_SECTOR_TEMPLATE, 512) +
                                                   fixture::byte_sum(FSINFO_TEMPLATE, 510));
    EXPECT_EQ(sum, image.sector(copy + 1)[510] * 256 + image.sector(copy + 1)[511]);
  }
  EXPECT_TRUE(same(9, old, 9));  // the old volume's further sectors stay
  expect_outcome(0x0003, {});
}

TEST_F(AssessmentTest, ConvertedVolumeFoundAtAnySlot) {
  fixture::make_unpartitioned(image);
  image.sector(0)[82] = 'X';
  image.sector(4)[5] ^= 1;
  expect_outcome(0x1003, {0, 1, 2, 3, 4, 5, 6, 7, 63, 64, 66, 67, 72, 73});
}

// Without an MBR the partitioned place is looked at before sector 0.
TEST_F(AssessmentTest, VolumeAtSixtyThreeWinsOverVolumeAtZero) {
  fixture::make_unpartitioned(image);
  fixture::write_volume(image, 63);
  expect_outcome(0x0803, {0});
  EXPECT_EQ(volume_geometry.volume_start, 63);
}

}  // namespace
