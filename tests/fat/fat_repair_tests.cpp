#include <cstring>

#include "bootarea/boot_area_image.h"
#include "fat/fat_repair.h"
#include "fat/sector_prints.h"
#include "fat_test_helpers.h"

namespace {

class WriteBootArea : public ::testing::Test {
 protected:
  MemoryDisk& disk = install_memory_disk(20000);
  BootAreaImage image{};
  std::string output;

  void SetUp() override {
    for (int n = 0; n < BOOT_AREA_SECTORS; ++n) std::memset(image.sector(n), n + 1, BOOT_AREA_SECTOR_SIZE);
    volume_geometry.volume_start = 63;
  }
  int write(std::int32_t fat_size) {
    start_capture();
    int result = write_boot_area(image, fat_size);
    output = captured();
    return result;
  }
};

TEST_F(WriteBootArea, SizeZeroWritesTheImageUnchanged) {
  const BootAreaImage before = image;
  EXPECT_EQ(write(0), -1);
  EXPECT_EQ(output, "");
  EXPECT_EQ(std::memcmp(before.bytes, image.bytes, BOOT_AREA_BYTES), 0);
  ASSERT_EQ(disk.writes, 95);
  for (std::uint32_t n = 0; n < 95; ++n) {
    EXPECT_EQ(std::memcmp(disk.get(n).data(), image.sector(n), 512), 0) << "sector " << n;
    EXPECT_EQ(disk.transfers[n].sector, n);
  }
  EXPECT_EQ(disk.writes_between(95, 20000), 0);
}

TEST_F(WriteBootArea, MeasuredFatSizeGoesIntoThePrimaryPairFirst) {
  EXPECT_EQ(write(1000), -1);
  const DiskSector boot = disk.get(63);
  const DiskSector fsinfo = disk.get(64);
  EXPECT_EQ(boot[36], 0xE8);
  EXPECT_EQ(boot[37], 0x03);
  EXPECT_EQ(boot[38], 0x00);
  EXPECT_EQ(boot[39], 0x00);
  for (int i = 488; i < 492; ++i) EXPECT_EQ(fsinfo[i], 0xFF);
  EXPECT_EQ(disk.get(62)[36], 63);  // other sectors as in the image
}

TEST_F(WriteBootArea, FailedWritesAreListedAndTheRestStillWritten) {
  disk.bad_writes = {3, 9};
  EXPECT_EQ(write(0), 0);
  EXPECT_EQ(output, std::string(FAILED_REQUEST_LINE) + "ERROR: writing sectors...\n $ 3" + FAILED_REQUEST_LINE +
                        " $ 9");
  EXPECT_EQ(disk.writes, 95);
  EXPECT_EQ(disk.get(94)[0], 95);
  EXPECT_EQ(disk.get(3)[0], 0);
}

// Against the sectors as read, only those the judging or the FAT size
// changed are written: an unchanged sector, even one whose write would
// fail, is not, nor an unreadable one left alone.
TEST_F(WriteBootArea, OnlySectorsThatDifferFromTheDiskAreWritten) {
  const BootAreaImage as_read = image;
  image.sector(5)[100] ^= 0x40;
  image.sector(70)[0] = 0;
  BootSectorSet left_alone;
  left_alone.set(70);
  disk.bad_writes = {3};
  EXPECT_EQ(write_boot_area(image, 1000, &as_read, left_alone), -1);
  std::vector<std::uint32_t> written;
  for (const Transfer& t : disk.transfers) written.push_back(t.sector);
  EXPECT_EQ(written, (std::vector<std::uint32_t>{5, 63, 64}));
}

class RepairFat : public ::testing::Test {
 protected:
  MemoryDisk& disk = install_memory_disk(20000);
  std::string output;

  // FAT1 of 0x11 sectors, FAT2 of sectors that never equal them, except
  // every fourth FAT1 sector, which already holds its twin.
  void SetUp() override {
    for (std::uint32_t n = 95; n < 1095; ++n) fill_sector(disk, n, 0x11);
    for (std::uint32_t n = 1095; n < 2095; ++n) fill_sector(disk, n, static_cast<std::uint8_t>(n | 0x80));
    for (std::uint32_t n = 95; n < 1095; n += 4) disk.at(n) = disk.get(n + 1000);
    restart_prints(last_search_prints, 0);
    restart_prints(last_sum_prints, 0);
  }
  // Fingerprints of both FATs as the check would have taken them.
  void checked() {
    restart_prints(last_search_prints, 95);
    restart_prints(last_sum_prints, 1095);
    for (std::uint32_t n = 95; n < 1095; ++n) note_print(last_search_prints, n, disk.get(n).data());
    for (std::uint32_t n = 1095; n < 2095; ++n) note_print(last_sum_prints, n, disk.get(n).data());
  }
  int repair(std::int32_t first, std::int32_t second) {
    start_capture();
    int result = repair_fat(first, second);
    output = captured();
    return result;
  }
};

// Without what the check saw, every twin is read (quietly) before its write,
// and written only where it differs; each write follows the two reads of
// its sector at once.
TEST_F(RepairFat, CopiesTheSecondFatOverTheFirstWhereTheyDiffer) {
  EXPECT_EQ(repair(95, 1095), -1);
  EXPECT_EQ(output, "\n Repairing FAT...\n" + stars(62));
  EXPECT_EQ(disk.reads, 2000);
  EXPECT_EQ(disk.writes, 750);
  for (std::uint32_t n = 95; n < 1095; ++n) ASSERT_EQ(disk.get(n), disk.get(n + 1000)) << "sector " << n;
  std::size_t i = 0;
  for (std::uint32_t s = 1095; s < 2095; ++s) {
    EXPECT_EQ(disk.transfers[i].sector, s);
    EXPECT_EQ(disk.transfers[i + 1].sector, s - 1000);
    EXPECT_FALSE(disk.transfers[i].write || disk.transfers[i + 1].write);
    i += 2;
    if ((s - 1095) % 4 == 0) continue;
    EXPECT_TRUE(disk.transfers[i].write && disk.transfers[i].sector == s - 1000) << "sector " << s;
    ++i;
  }
  EXPECT_EQ(i, disk.transfers.size());
}

// What the check saw equal is neither read again nor written. A source that
// reads differently than the check saw it was not saved in the undo journal
// with its twin: left alone and reported as not repaired.
TEST_F(RepairFat, WhatTheCheckSawEqualIsNeitherReadNorWritten) {
  checked();
  disk.at(1099)[0] ^= 1;  // seen equal to sector 99, changed since
  EXPECT_EQ(repair(95, 1095), 0);
  EXPECT_EQ(disk.reads, 1000 + 750);
  EXPECT_EQ(disk.writes, 750);
  EXPECT_EQ(disk.get(99)[0], disk.get(1099)[0] ^ 1);
  EXPECT_NE(output.find("ERROR: writing sectors...\n $44b"), std::string::npos) << output;
}

TEST_F(RepairFat, EqualStartsTransferNothing) {
  EXPECT_EQ(repair(95, 95), -1);
  EXPECT_EQ(output, "\n Repairing FAT...\n");
  EXPECT_TRUE(disk.transfers.empty());
}

TEST_F(RepairFat, UnreadableSourceLeavesItsDestinationAlone) {
  disk.bad_reads = {1100};
  EXPECT_EQ(repair(95, 1095), 0);
  EXPECT_EQ(disk.get(100)[0], 0x11);
  EXPECT_EQ(disk.get(101), disk.get(1101));
  EXPECT_EQ(disk.writes, 749);
  EXPECT_NE(output.find(std::string(FAILED_REQUEST_LINE) + "ERROR: reading sectors...\n $44c"), std::string::npos);
}

TEST_F(RepairFat, FailedWriteNamesTheSourceSector) {
  disk.bad_writes = {100};
  disk.bad_reads = {1200, 1201};
  EXPECT_EQ(repair(95, 1095), 0);
  const std::string expected_tail = std::string(FAILED_REQUEST_LINE) + "ERROR: writing sectors...\n $44c";
  EXPECT_NE(output.find(expected_tail), std::string::npos);
  EXPECT_NE(output.find(std::string(FAILED_REQUEST_LINE) + "ERROR: reading sectors...\n $4b0" + FAILED_REQUEST_LINE +
                        " $4b1"),
            std::string::npos);
  EXPECT_EQ(output.find("ERROR: writing sectors...\n", output.find("ERROR: writing") + 1), std::string::npos);
  EXPECT_EQ(disk.get(100)[0], 0x11);
}

TEST_F(RepairFat, SmallFatCopiesWithoutAZeroStep) {
  EXPECT_EQ(repair(95, 105), -1);
  for (std::uint32_t n = 95; n < 105; ++n) EXPECT_EQ(disk.get(n), disk.get(n + 10));
  EXPECT_LE(count_stars(output), 10);
}

}  // namespace
