// Judging the boot pairs, refreshing the checksummed copies, restoring the
// primary pair, and storing the FAT size.
#include <gtest/gtest.h>

#include <cstring>

#include "boot_area_fixture.h"
#include "bootarea/boot_pair.h"
#include "bootarea/foreign_layout.h"
#include "bootarea/templates.h"

namespace {

using fixture::changed_sectors;

class BootPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::make_partitioned(image);
    volume_geometry = VolumeGeometry{};
    volume_geometry.volume_start = 63;
  }
  BootAreaImage image;
};

TEST_F(BootPairTest, SoundVolumeAcceptedAtEverySlot) {
  for (int slot : {0, 3, 6, 9}) {
    EXPECT_EQ(boot_check_pair(image, slot), 0) << slot;
    EXPECT_EQ(std::memcmp(work_sector, image.sector(63 + slot), 512), 0);
    EXPECT_EQ(std::memcmp(fsinfo_work_sector, image.sector(64 + slot), 512), 0);
  }
}

// The results come in the order the tests are made: marks, type, FAT16
// fields, cluster size.
TEST_F(BootPairTest, ResultsInTestOrder) {
  image.sector(64)[511] = 0x00;
  EXPECT_EQ(boot_check_pair(image, 0), 2);
  image.sector(63)[82] = 'X';
  EXPECT_EQ(boot_check_pair(image, 0), 2);
  image.sector(63)[510] = 0x00;
  EXPECT_EQ(boot_check_pair(image, 0), 1);

  std::uint8_t* boot = image.sector(69);  // signed copy pair
  std::memcpy(boot + 82, "FAT32XYZ", 8);
  EXPECT_EQ(boot_check_pair(image, 6), 0);
  std::memcpy(boot + 82, "FAT16   ", 8);
  EXPECT_EQ(boot_check_pair(image, 6), 4);
  std::memcpy(boot + 82, "FAT32   ", 8);
  boot[22] = 245;
  boot[13] = 2;
  EXPECT_EQ(boot_check_pair(image, 6), 51);
  boot[22] = 0;
  boot[18] = 2;  // 512 root entries
  EXPECT_EQ(boot_check_pair(image, 6), 51);
  boot[18] = 0;
  EXPECT_EQ(boot_check_pair(image, 6), 1);
  boot[13] = 128;
  EXPECT_EQ(boot_check_pair(image, 6), 0);
  boot[13] = 4;
  EXPECT_EQ(boot_check_pair(image, 6), 0);
}

TEST_F(BootPairTest, ChecksummedCopiesNeedTheirSumNotTheSignature) {
  std::uint8_t* boot = image.sector(66);
  boot[510] = 0x12;  // only enters the sum
  EXPECT_EQ(boot_check_pair(image, 3), 3);
  fixture::checksum_pair_copy(boot, image.sector(67));
  EXPECT_EQ(boot_check_pair(image, 3), 0);
  image.sector(67)[300] ^= 0x40;
  EXPECT_EQ(boot_check_pair(image, 3), 3);
  // A copy signed like the primary pair is not a checksummed copy.
  std::memcpy(image.sector(72), image.sector(63), 512);
  std::memcpy(image.sector(73), image.sector(64), 512);
  EXPECT_EQ(boot_check_pair(image, 9), 3);
  std::memset(image.sector(72), 0, 512);
  std::memset(image.sector(73), 0, 512);
  EXPECT_EQ(boot_check_pair(image, 9), 3);
}

TEST_F(BootPairTest, UnknownSlotRejected) {
  for (int slot : {-3, 1, 2, 12}) EXPECT_NE(boot_check_pair(image, slot), 0) << slot;
}

// Volume starts that put any pair outside sectors 0-94 are rejected
// without a read, whatever lies in the image.
TEST_F(BootPairTest, VolumeOutsideImageRejected) {
  fixture::write_volume(image, 84);
  volume_geometry.volume_start = 84;
  for (int slot : {0, 3, 6, 9}) EXPECT_EQ(boot_check_pair(image, slot), 0) << slot;
  fixture::write_volume(image, 85 - 9);
  for (std::int32_t v : {85, 93, 94, 95, -1, -3, -9, 0x7FFFFFFF, -0x7FFFFFFF - 1}) {
    volume_geometry.volume_start = v;
    for (int slot : {0, 3, 6, 9}) {
      EXPECT_EQ(boot_check_pair(image, slot), PAIR_OUTSIDE_IMAGE) << v << " " << slot;
    }
  }
}

TEST_F(BootPairTest, RefreshRewritesOnlyStaleCopy) {
  image.sector(66)[120] ^= 0xFF;  // copy A stale, B current
  image.sector(67)[120] ^= 0xFF;
  BootAreaImage before = image;
  ASSERT_EQ(boot_check_pair(image, 0), 0);
  refresh_boot_copies(image);
  EXPECT_EQ(changed_sectors(before, image), (std::vector<int>{66, 67}));
  EXPECT_EQ(std::memcmp(image.sector(66), image.sector(72), 512), 0);
  EXPECT_EQ(std::memcmp(image.sector(67), image.sector(73), 512), 0);
  EXPECT_EQ(boot_check_pair(image, 3), 0);
}

TEST_F(BootPairTest, RefreshKeepsCopyWithEqualSums) {
  std::swap(image.sector(72)[90], image.sector(72)[91]);
  std::uint8_t* fs = image.sector(73);
  fs[511] = static_cast<std::uint8_t>(fs[511] + 1);  // content equal, checksum wrong
  std::memcpy(image.sector(66), image.sector(63), 512);
  std::swap(image.sector(66)[90], image.sector(66)[91]);
  std::swap(image.sector(66)[100], image.sector(67)[100]);  // sums still equal
  ASSERT_NE(image.sector(66)[100], image.sector(67)[100]);
  BootAreaImage before = image;
  ASSERT_EQ(boot_check_pair(image, 0), 0);
  refresh_boot_copies(image);
  EXPECT_EQ(changed_sectors(before, image), (std::vector<int>{72, 73}));
  EXPECT_EQ(image.sector(63)[510], 0x55);  // the primary keeps its signature
  EXPECT_EQ(image.sector(64)[511], 0xAA);
}

TEST_F(BootPairTest, RestoreFromCopyB) {
  std::memset(image.sector(63), 0, 1024);
  std::memset(image.sector(66), 0, 512);
  std::memset(image.sector(69), 0, 512);
  BootAreaImage before = image;
  ASSERT_NE(boot_check_pair(image, 0), 0);
  ASSERT_NE(boot_check_pair(image, 3), 0);
  ASSERT_NE(boot_check_pair(image, 6), 0);
  ASSERT_EQ(boot_check_pair(image, 9), 0);
  restore_boot_pair(image);
  EXPECT_EQ(changed_sectors(before, image), (std::vector<int>{63, 64}));
  EXPECT_EQ(std::memcmp(image.sector(63), image.sector(72), 510), 0);
  EXPECT_EQ(std::memcmp(image.sector(64), image.sector(73), 510), 0);
  for (int n : {63, 64}) {
    EXPECT_EQ(image.sector(n)[510], 0x55);
    EXPECT_EQ(image.sector(n)[511], 0xAA);
  }
  EXPECT_EQ(boot_check_pair(image, 0), 0);
}

TEST_F(BootPairTest, SetFatSizeTouchesOnlyPrimaryFields) {
  BootAreaImage before = image;
  set_fat_size(image, 11399);
  EXPECT_EQ(changed_sectors(before, image), (std::vector<int>{63, 64}));
  EXPECT_EQ(std::memcmp(image.sector(63) + 36, "\x87\x2C\x00\x00", 4), 0);
  EXPECT_EQ(std::memcmp(image.sector(64) + 488, "\xFF\xFF\xFF\xFF", 4), 0);
  image.sector(63)[36] = before.sector(63)[36];
  image.sector(63)[37] = before.sector(63)[37];
  std::memcpy(image.sector(64) + 488, before.sector(64) + 488, 4);
  EXPECT_TRUE(changed_sectors(before, image).empty());
}

// A volume not wholly inside the image is never refreshed or restored;
// the FAT size goes in wherever sectors V and V+1 exist.
TEST_F(BootPairTest, OperationsOutsideImageChangeNothing) {
  for (std::int32_t v : {85, 93, 94, 95, -1, -3, 1000, -0x7FFFFFFF - 1}) {
    volume_geometry.volume_start = v;
    BootAreaImage before = image;
    restore_boot_pair(image);
    refresh_boot_copies(image);
    EXPECT_TRUE(changed_sectors(before, image).empty()) << v;
    set_fat_size(image, 5);
    std::vector<int> expected;
    if (v == 85 || v == 93) expected = {v, v + 1};
    EXPECT_EQ(changed_sectors(before, image), expected) << v;
  }
}

}  // namespace

// The layouts a repair would replace are named; the player's own volume, an
// MBR and an empty sector are not.
TEST(ForeignLayout, OnlyLayoutsThePlayerCannotUseAreNamed) {
  struct Row {
    const char* what;
    void (*make)(std::uint8_t* boot);
    const char* kind;
  };
  // A FAT boot sector with 16-bit FATs: 4 reserved sectors, 2 FATs of 200
  // sectors, 512 root entries (32 sectors), 4 sectors a cluster, so 436
  // sectors before the data; 34,464 sectors in all give 8,507 clusters. The
  // cluster count alone tells FAT12 (below 4,085) from FAT16.
  static const auto fat16 = [](std::uint8_t* b) {
    std::memcpy(b, BOOT_SECTOR_TEMPLATE, 512);
    b[13] = 4, b[14] = 4, b[15] = 0, b[16] = 2, b[17] = 0x00, b[18] = 0x02;
    b[19] = 0xA0, b[20] = 0x86;
    b[22] = 200, b[23] = 0;
  };
  const Row rows[] = {
      {"the player's template", [](std::uint8_t* b) { std::memcpy(b, BOOT_SECTOR_TEMPLATE, 512); }, ""},
      {"the template, 1 sector a cluster",
       [](std::uint8_t* b) { std::memcpy(b, BOOT_SECTOR_TEMPLATE, 512), b[13] = 1; },
       "FAT32 volume with 1 sector per cluster"},
      {"the template, 2 sectors a cluster",
       [](std::uint8_t* b) { std::memcpy(b, BOOT_SECTOR_TEMPLATE, 512), b[13] = 2; },
       "FAT32 volume with 2 sectors per cluster"},
      {"8,507 clusters", fat16, "FAT16 volume"},
      {"4,085 clusters (32-bit total)",
       [](std::uint8_t* b) { fat16(b), b[19] = 0, b[20] = 0, b[32] = 0x88, b[33] = 0x41, b[34] = 0, b[35] = 0; },
       "FAT16 volume"},
      {"4,084 clusters (32-bit total)",
       [](std::uint8_t* b) { fat16(b), b[19] = 0, b[20] = 0, b[32] = 0x84, b[33] = 0x41, b[34] = 0, b[35] = 0; },
       "FAT12 volume"},
      {"exFAT", [](std::uint8_t* b) { std::memcpy(b + 3, "EXFAT   ", 8), b[510] = 0x55, b[511] = 0xAA; },
       "exFAT volume"},
      {"NTFS", [](std::uint8_t* b) { std::memcpy(b + 3, "NTFS    ", 8), b[510] = 0x55, b[511] = 0xAA; },
       "NTFS volume"},
      {"FAT16 unsigned", [](std::uint8_t* b) { fat16(b), b[511] = 0; }, ""},
      {"an MBR", [](std::uint8_t* b) { b[446 + 4] = 0x0C, b[510] = 0x55, b[511] = 0xAA; }, ""},
      {"an empty sector", [](std::uint8_t*) {}, ""},
  };
  for (const Row& row : rows) {
    std::uint8_t sector[512] = {};
    row.make(sector);
    EXPECT_EQ(foreign_volume_kind(sector), row.kind) << row.what;
  }
  std::uint8_t header[512] = {};
  std::memcpy(header, "EFI PART", 8);
  EXPECT_TRUE(guid_partition_header(header));
  header[0] = 'e';
  EXPECT_FALSE(guid_partition_header(header));
}
