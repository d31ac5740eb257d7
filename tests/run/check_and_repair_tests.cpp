// The whole run on in-memory sample disks: read, judge, report, FAT step,
// confirmations and repair.
#include <cstring>

#include "bootarea/templates.h"
#include "platform/console_hooks.h"
#include "run/check_and_repair.h"
#include "run/command_line.h"
#include "run_test_helpers.h"
#include "sample_disk.h"

namespace {

constexpr const char* ALL_CLEAR = "Pellora Hard Drive is OK\n";
constexpr const char* MBR_DAMAGED = "ERROR: Hard Drive MBR damaged:\n   Hard Drive may be damaged\n";
constexpr const char* BPB_DAMAGED = "ERROR: Hard Drive BPB damaged:\n   Hard Drive may be damaged\n";
constexpr const char* BPB_NOT_FOUND = "ERROR: Hard Drive BPB not found:\n   Hard Drive may be damaged\n";
constexpr const char* MBR_NOT_FOUND = "ERROR: Hard Drive MBR not found\n   Hard Drive may be damaged\n";
constexpr const char* REMOVABLE = "ERROR: Hard Drive is removable\n   Hard Drive must be reformated\n";

class Run : public ::testing::Test {
 protected:
  MemoryDisk* disk = nullptr;
  std::string output;

  void SetUp() override { verbose_level = 1; }
  void TearDown() override {
    stop_scripting_message_boxes();
    verbose_level = 1;
  }

  void load(const std::vector<std::string>& damages, bool removable = false) {
    disk = &install_sample_disk(SMALL_DISK, damages, removable);
  }
  void run() {
    testing::internal::CaptureStdout();
    run_check_and_repair(target_drive);
    output = testing::internal::GetCapturedStdout();
  }
  mkdisk::SampleDisk sound_sample() {
    mkdisk::DiskOptions options;
    options.capacity = SMALL_DISK;
    return mkdisk::build_sample_disk(options);
  }
};

TEST_F(Run, SoundDiskGetsTheAllClearAndNothingIsWritten) {
  load({});
  ScriptedBoxes& boxes = script_message_boxes({});
  const std::uint64_t sleeps = platform::sleep_call_count();
  run();
  EXPECT_EQ(output, ALL_CLEAR + small_disk_fat_lines() + "FAT1 == FAT2\n");
  ASSERT_EQ(boxes.shown.size(), 1u);
  expect_box(boxes.shown[0], "  Pellora Hard Drive partition was found OK ! ",
             "You may try to run Windows Scandisk to fix the file structure\n", 0);
  EXPECT_EQ(disk->writes, 0);
  // Requests completed inside SendASPI32Command never wait.
  EXPECT_EQ(platform::sleep_call_count(), sleeps);
}

// Only what differs is written: of the boot area the FSInfo sector, whose
// free count becomes unknown, and of FAT1 the one sector with the lost
// cluster.
TEST_F(Run, DifferingFatsRepairedWithTwoOksLeaveASoundDisk) {
  load({"fat-differ"});
  const std::map<std::uint32_t, DiskSector> before = disk->sectors;
  script_message_boxes({IDOK, IDOK});
  run();
  EXPECT_EQ(output, ALL_CLEAR + small_disk_fat_lines() + "FAT1 != FAT2\n" + small_disk_repair_lines() + "\n");
  for (std::uint32_t n = 95; n < SMALL_DISK_FAT2; ++n) ASSERT_EQ(disk->get(n), disk->get(n + 195)) << n;
  const std::vector<std::uint32_t> written = changing_writes(*disk, before);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0], 64u);
  const DiskSector fsinfo = disk->get(64);
  for (int i = 488; i < 492; ++i) EXPECT_EQ(fsinfo[i], 0xFF);
  // The drive's cache is flushed once, when the repair has done all it does.
  EXPECT_EQ(disk->flushes, 1);
  EXPECT_EQ(disk->transfers_at_flush, disk->transfers.size());

  ScriptedBoxes& again = script_message_boxes({});
  run();
  EXPECT_EQ(output, ALL_CLEAR + small_disk_fat_lines() + "FAT1 == FAT2\n");
  EXPECT_EQ(again.shown.size(), 1u);
}

TEST_F(Run, CancelLeavesEveryByteAsItWas) {
  for (std::vector<int> answers : {std::vector<int>{IDCANCEL}, std::vector<int>{IDOK, IDCANCEL}}) {
    load({"fat-differ", "bpb"});
    const std::map<std::uint32_t, DiskSector> before = disk->sectors;
    script_message_boxes(answers);
    run();
    EXPECT_EQ(disk->writes, 0);
    EXPECT_EQ(disk->sectors, before);
  }
}

TEST_F(Run, EachDamageIsReportedAndRepaired) {
  const mkdisk::SampleDisk sound = sound_sample();
  struct Case {
    std::vector<std::string> damages;
    std::string report;
  };
  const Case cases[] = {
      {{"mbr"}, MBR_DAMAGED},
      {{"bpb"}, BPB_DAMAGED},
      {{"mbr", "bpb"}, std::string(MBR_DAMAGED) + BPB_DAMAGED},
      {{"mbr-all"}, MBR_NOT_FOUND},
  };
  for (const Case& c : cases) {
    load(c.damages);
    const std::map<std::uint32_t, DiskSector> before = disk->sectors;
    script_message_boxes({IDOK, IDOK});
    run();
    EXPECT_EQ(output, c.report + small_disk_fat_lines() + "FAT1 == FAT2\n" + "\n") << c.report;
    EXPECT_LT(changing_writes(*disk, before).size(), 95u) << c.report;
    EXPECT_EQ(disk->get(0), sound.sectors.at(0)) << c.report;
  }
}

TEST_F(Run, LostBootPairsAreReplacedByTheTemplates) {
  load({"bpb-all"});
  script_message_boxes({IDOK, IDOK});
  run();
  EXPECT_EQ(output.rfind(BPB_NOT_FOUND, 0), 0u);
  DiskSector boot = disk->get(63);
  // The template as stored, but for the measured FAT size (195 = 0xC3).
  EXPECT_EQ(std::memcmp(boot.data(), BOOT_SECTOR_TEMPLATE, 36), 0);
  EXPECT_EQ(boot[36], 0xC3);
  EXPECT_EQ(boot[37], 0x00);
  EXPECT_EQ(std::memcmp(boot.data() + 40, BOOT_SECTOR_TEMPLATE + 40, 472), 0);

  load({"bpb-all", "mbr-all"});
  script_message_boxes({IDCANCEL});
  run();
  EXPECT_EQ(output.rfind(std::string(BPB_NOT_FOUND) + MBR_NOT_FOUND, 0), 0u);
}

TEST_F(Run, RemovableDiskIsRepartitionedWithoutLookingForFats) {
  load({}, true);
  ScriptedBoxes& boxes = script_message_boxes({IDOK, IDOK});
  run();
  EXPECT_EQ(output, std::string(REMOVABLE) + "\n");
  EXPECT_EQ(disk->reads, 95);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].caption, R1_CAPTION);
  const DiskSector mbr = disk->get(0);
  EXPECT_EQ(mbr[450], 0x0B);
  // 200,000 - 63 = 199,937 = 0x00030D01 sectors in the partition.
  EXPECT_EQ(mbr[458], 0x01);
  EXPECT_EQ(mbr[459], 0x0D);
  EXPECT_EQ(mbr[460], 0x03);
  EXPECT_EQ(std::memcmp(disk->get(63).data(), BOOT_SECTOR_TEMPLATE, 512), 0);
  EXPECT_EQ(std::memcmp(disk->get(64).data(), FSINFO_TEMPLATE, 512), 0);
}

TEST_F(Run, UnreadableBootSectorsAreListedAndTheRunGoesOn) {
  load({});
  disk->bad_reads = {5, 30};
  script_message_boxes({});
  run();
  EXPECT_EQ(output, std::string(FAILED_REQUEST) + "ERROR: reading sectors...\n $ 5" + FAILED_REQUEST + " $1e" +
                        "\nERROR: found 2 unreadable boot sectors\n" + ALL_CLEAR + small_disk_fat_lines() +
                        "FAT1 == FAT2\n");
}

TEST_F(Run, VerboseLevelTwoDumpsEveryReadableSector) {
  load({});
  disk->bad_reads = {7};
  verbose_level = 2;
  script_message_boxes({});
  run();
  int dumps = 0;
  for (std::size_t at = output.find("\nHex Dump of Sector="); at != std::string::npos;
       at = output.find("\nHex Dump of Sector=", at + 1))
    ++dumps;
  EXPECT_EQ(dumps, 94);
  EXPECT_EQ(output.find("Sector=7="), std::string::npos);
  // Sector 0 ends in the signature: its dump's last line closes with 0x55, 0xaa.
  EXPECT_EQ(output.rfind("\nHex Dump of Sector=0=$0 ...\n \n 0x0,", 0), 0u);
  EXPECT_NE(output.find(" 0x55, 0xaa,\n\nHex Dump of Sector=1=$1 ...\n"), std::string::npos);
  EXPECT_NE(output.find("\nHex Dump of Sector=10=$a ...\n"), std::string::npos);
}

// READ CAPACITY failed: a fresh MBR sized from capacity 0 must not be written.
TEST_F(Run, FreshMbrFromAnUnknownCapacityIsNeverWritten) {
  load({}, true);
  target_drive.capacity_sectors = 0;
  ScriptedBoxes& boxes = script_message_boxes({IDOK, IDOK});
  run();
  EXPECT_EQ(output, std::string(REMOVABLE) + "ERROR: Hard Drive capacity unknown, MBR cannot be rebuilt\n");
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(disk->writes, 0);

  load({"mbr-all"});
  target_drive.capacity_sectors = 0;
  run();
  EXPECT_EQ(output, MBR_NOT_FOUND + small_disk_fat_lines() + "FAT1 == FAT2\n" +
                        "ERROR: Hard Drive capacity unknown, MBR cannot be rebuilt\n");
  EXPECT_EQ(disk->writes, 0);
}

}  // namespace
