// The FAT step, the confirmations and the repair, called directly with a
// severity and an in-memory disk.
#include <cstring>

#include "bootarea/boot_area_image.h"
#include "bootarea/templates.h"
#include "run/boot_area_reading.h"
#include "run/check_and_repair.h"
#include "run_test_helpers.h"

namespace {

void put_signature(MemoryDisk& disk, std::uint32_t n) {
  const std::uint8_t media[4] = {0xF8, 0xFF, 0xFF, 0x0F};
  std::memcpy(disk.at(n).data(), media, 4);
}

std::uint32_t image_fat_size(const BootAreaImage& image) {
  const std::uint8_t* b = image.sector(63) + 36;
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

class FatStep : public ::testing::Test {
 protected:
  MemoryDisk* disk = nullptr;
  BootAreaImage image{};
  std::string output;

  // The disk's boot area as read is all zero, as the memory disk holds it:
  // what the test puts into the image is what the judging changed.
  void SetUp() override {
    volume_geometry.volume_start = 63;
    boot_area_reading = BootAreaReading{};
  }
  void TearDown() override { stop_scripting_message_boxes(); }

  void run(RunSeverity severity, bool writable = true) {
    testing::internal::CaptureStdout();
    check_fat_and_repair(image, target_drive, severity, writable);
    output = testing::internal::GetCapturedStdout();
  }
  // FAT1 at 95 with data in 95-99, FAT2 at 1095 with the same data.
  void two_fats_at_1095() {
    disk = &install_memory_disk(20000);
    for (std::uint32_t fat : {95u, 1095u}) {
      put_signature(*disk, fat);
      for (std::uint32_t n = fat + 1; n < fat + 5; ++n) disk->at(n)[9] = 0x21;
    }
  }
};

// The step's lines for FATs at 95 and 1095: the search stops after
// (1095 - 1) / 251 = 4 stars, the sum of 1000 sectors prints 999 / 16 = 62.
std::string lines_for_1095() {
  return "\n Shearching FAT...\n" + stars(4) +
         "\n"
         "Fat found on sector 1095 at Address 0x88e00 \n"
         "Fat size : 1000 SECTORS = 0x7d000 BYTES \n"
         "\n Checking FAT ...\n" +
         stars(62) + "\n";
}

TEST_F(FatStep, EqualFatsOnASoundDiskEndTheRunQuietly) {
  two_fats_at_1095();
  ScriptedBoxes& boxes = script_message_boxes({});
  run(SEVERITY_OK);
  EXPECT_EQ(output, lines_for_1095() + "FAT1 == FAT2\n");
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(disk->writes, 0);
  EXPECT_EQ(image_fat_size(image), 1000u);  // in the image only
}

TEST_F(FatStep, DifferingFatsAreRepairedAfterTwoOks) {
  two_fats_at_1095();
  disk->at(97)[100] = 0x05;
  image.sector(5)[0] = 0x5A;  // a sector the judging changed
  const std::map<std::uint32_t, DiskSector> before = disk->sectors;
  ScriptedBoxes& boxes = script_message_boxes({IDOK, IDOK});
  run(SEVERITY_OK);
  EXPECT_EQ(output, lines_for_1095() + "FAT1 != FAT2\n" + "\n Repairing FAT...\n" + stars(62) + "\n");
  ASSERT_EQ(boxes.shown.size(), 2u);
  expect_box(boxes.shown[0], D1_CAPTION, "\nTessaly will now attempt", CONFIRMATION);
  expect_box(boxes.shown[1], D2_CAPTION, "\nAfter this operation, you must reboot", CONFIRMATION);
  EXPECT_EQ(disk->get(97), disk->get(1097));
  // The boot area went first, in order, then the FAT copy: only what
  // differs (the changed sector, the FAT size and free count, the one FAT1
  // sector that differs from its twin).
  EXPECT_EQ(changing_writes(*disk, before), (std::vector<std::uint32_t>{5, 63, 64, 97}));
  EXPECT_EQ(disk->get(63)[36], 0xE8);
  EXPECT_EQ(disk->get(63)[37], 0x03);
}

TEST_F(FatStep, CancelOnEitherBoxWritesNothing) {
  two_fats_at_1095();
  disk->at(97)[100] = 0x05;
  ScriptedBoxes& first = script_message_boxes({IDCANCEL});
  run(SEVERITY_OK);
  EXPECT_EQ(first.shown.size(), 1u);
  EXPECT_EQ(disk->writes, 0);

  ScriptedBoxes& second = script_message_boxes({IDOK, IDCANCEL});
  run(SEVERITY_OK);
  EXPECT_EQ(second.shown.size(), 2u);
  EXPECT_EQ(disk->writes, 0);
  EXPECT_EQ(output, lines_for_1095() + "FAT1 != FAT2\n");
}

TEST_F(FatStep, RemovableDiskSkipsTheFatsAndAsksWithTheRemovableBoxes) {
  disk = &install_memory_disk(20000);
  image.sector(0)[510] = 0x55;
  ScriptedBoxes& boxes = script_message_boxes({IDOK, IDOK});
  run(SEVERITY_REMOVABLE);
  EXPECT_EQ(output, "\n");
  EXPECT_EQ(disk->reads, 0);
  ASSERT_EQ(boxes.shown.size(), 2u);
  expect_box(boxes.shown[0], R1_CAPTION, "The Hard Disk is formatted as removable.\n", CONFIRMATION);
  expect_box(boxes.shown[1], D1_CAPTION, "\nMake sure that the drive is NOT marked removable:\n", CONFIRMATION);
  EXPECT_EQ(disk->writes, 1);
  EXPECT_EQ(disk->get(0)[510], 0x55);
  EXPECT_EQ(image_fat_size(image), 0u);
}

TEST_F(FatStep, NoSecondFatFoundOnADamagedDiskWritesOnlyTheBootArea) {
  disk = &install_memory_disk(20000);
  image.sector(7)[0] = 1;
  script_message_boxes({IDOK, IDOK});
  run(SEVERITY_DAMAGED);
  const std::string pass = "\n Shearching FAT...\n" + stars(60) + "\n";
  EXPECT_EQ(output, pass + pass + "No Fat found ????\n" + "\n");
  EXPECT_EQ(disk->reads, 2 * 15000);
  EXPECT_EQ(disk->writes, 1);
  EXPECT_EQ(disk->get(7)[0], 1);
  EXPECT_EQ(image_fat_size(image), 0u);
}

TEST_F(FatStep, SignatureModeFindsTheFatWhenNoFreeRunPrecedesIt) {
  disk = &install_memory_disk(20000);
  for (std::uint32_t n = 95; n < 1095; ++n) fill_sector(*disk, n, 0x01);  // FAT1 start lost, no free entries
  put_signature(*disk, 1095);
  script_message_boxes({IDCANCEL});
  run(SEVERITY_OK);
  const std::string first_pass = "\n Shearching FAT...\n" + stars(60) + "\n";
  EXPECT_EQ(output.rfind(first_pass, 0), 0u);
  EXPECT_NE(output.find("Fat found on sector 1095 at Address 0x88e00 \nFat size : 1000 SECTORS = 0x7d000 BYTES \n"),
            std::string::npos);
  EXPECT_NE(output.find("FAT1 != FAT2\n"), std::string::npos);
}

// Sums of -1 that were really read are compared like any other value.
TEST_F(FatStep, GenuineSumOfMinusOneIsCompared) {
  two_fats_at_1095();
  // Each FAT: 5 + 4 x 0x21 + (0x90 - 256) = 5 + 132 - 112 = 25; FAT2 gets
  // another -26 and so sums to exactly -1.
  for (std::uint32_t fat : {95u, 1095u}) disk->at(fat + 2)[50] = 0x90;
  disk->at(1095 + 3)[60] = static_cast<std::uint8_t>(-26);
  ScriptedBoxes& boxes = script_message_boxes({IDOK, IDOK});
  run(SEVERITY_OK);
  EXPECT_NE(output.find("FAT1 != FAT2\n"), std::string::npos);
  EXPECT_EQ(output.find("Impossible to check FAT"), std::string::npos);
  EXPECT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(disk->get(98), disk->get(1098));

  // Now both FATs sum to -1: equal.
  ScriptedBoxes& none = script_message_boxes({});
  run(SEVERITY_OK);
  EXPECT_NE(output.find("FAT1 == FAT2\n"), std::string::npos);
  EXPECT_TRUE(none.shown.empty());
}

TEST_F(FatStep, UnreadableSecondFatMakesTheSumsIncomparable) {
  two_fats_at_1095();
  disk->at(97)[100] = 0x05;
  disk->bad_reads = {1500};
  ScriptedBoxes& boxes = script_message_boxes({});
  run(SEVERITY_OK);
  EXPECT_NE(output.find(std::string(FAILED_REQUEST) + "ERROR: reading sectors...\n $5dcImpossible to check FAT\n"),
            std::string::npos);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(image_fat_size(image), 0u);
}

TEST_F(FatStep, SearchStoppingAtTheFirstFatGivesSizeZeroAndLeavesTheImageAlone) {
  disk = &install_memory_disk(20000);
  put_signature(*disk, 95);
  for (std::uint32_t n = 96; n < 15095; ++n) disk->at(n)[0] = 0x01;  // nothing is zero-sum
  std::memset(image.sector(63), 0xAB, 512);
  script_message_boxes({IDOK, IDOK});
  run(SEVERITY_DAMAGED);
  EXPECT_EQ(output, "\n Shearching FAT...\n" + stars(60) + "\n" + "\n Shearching FAT...\n\n" +
                        "Fat found on sector 95 at Address 0xbe00 \n"
                        "Fat size : 0 SECTORS = 0x0 BYTES \n"
                        "\n Checking FAT ...\n\n"
                        "FAT1 == FAT2\n\n");
  EXPECT_EQ(disk->get(63)[36], 0xAB);  // written back unchanged
}

TEST_F(FatStep, FailedWritesAreReportedAndTheFatRepairStillRuns) {
  two_fats_at_1095();
  disk->at(97)[100] = 0x05;
  image.sector(0)[0] = 1;
  disk->bad_writes = {0, 96, 97};  // 96 already holds its twin: not written, so not failing
  script_message_boxes({IDOK, IDOK});
  run(SEVERITY_OK);
  const std::string expected_tail = std::string(FAILED_REQUEST) + "ERROR: writing sectors...\n $ 0" +
                                    "Impossible to repair 95 first sectors\n" + "\n Repairing FAT...\n" +
                                    FAILED_REQUEST + "ERROR: writing sectors...\n $449" + stars(62) +
                                    "\nImpossible to repair FAT\n\n";
  ASSERT_GE(output.size(), expected_tail.size());
  EXPECT_EQ(output.substr(output.size() - expected_tail.size()), expected_tail);
}

// A signed boot sector at 63 saying 40 reserved sectors and a FAT of 1000:
// its FATs would begin at 103 and 1103, where the search found none. What
// the guard reads there decides; a sector that cannot be read cannot
// contradict the boot sector.
TEST_F(FatStep, GuardReadsDecideWhetherTheBootSectorsLayoutHolds) {
  struct Row {
    bool fat_at_103, bad_103, fat_at_1103, bad_1103;
    bool refused;
    std::vector<std::uint32_t> guard_reads;
    bool capacity_unknown = false;
  };
  const Row rows[] = {
      {true, false, true, false, true, {103, 1103}},
      {false, true, true, false, true, {103, 1103}},
      {true, false, false, true, true, {103, 1103}},
      {false, true, false, true, true, {103, 1103}},
      {false, false, true, false, false, {103}},
      {true, false, false, false, false, {103, 1103}},
      {false, true, false, false, false, {103, 1103}},
      // Without a capacity no FAT lies "past the end": the reads decide.
      {true, false, true, false, true, {103, 1103}, true},
  };
  for (const Row& row : rows) {
    two_fats_at_1095();
    disk->at(97)[100] = 0x07;  // the FATs differ: going on offers a repair
    if (row.fat_at_103) put_signature(*disk, 103);
    if (row.fat_at_1103) put_signature(*disk, 1103);
    if (row.bad_103) disk->bad_reads.insert(103);
    if (row.bad_1103) disk->bad_reads.insert(1103);
    image.sector(63)[14] = 40;
    image.sector(63)[37] = 0x03;  // FAT size 0x3E8 = 1000
    image.sector(63)[36] = 0xE8;
    image.sector(63)[510] = 0x55;
    image.sector(63)[511] = 0xAA;
    if (row.capacity_unknown) target_drive.capacity_sectors = 0;
    ScriptedBoxes& boxes = script_message_boxes({IDOK, IDOK});
    run(SEVERITY_OK);
    const std::string found = "Fat found on sector 1095 at Address 0x88e00 \nFat size : 1000 SECTORS = 0x7d000 BYTES \n";
    const std::size_t at = output.find(found);
    ASSERT_NE(at, std::string::npos) << output;
    const std::string after = output.substr(at + found.size());
    // The guard's reads lie between the search's last read (1095) and the
    // sum's first (1095 again).
    std::vector<std::uint32_t> guard_reads;
    bool searched = false;
    for (const Transfer& t : disk->transfers) {
      if (t.write) break;
      if (t.sector == 1095 && searched) break;
      if (t.sector == 1095) searched = true;
      else if (searched) guard_reads.push_back(t.sector);
    }
    EXPECT_EQ(guard_reads, row.guard_reads) << after;
    if (row.refused) {
      const int failed = (row.bad_103 ? 1 : 0) + (row.bad_1103 ? 1 : 0);
      std::string status_lines;
      for (int i = 0; i < failed; ++i) status_lines += FAILED_REQUEST;
      EXPECT_EQ(after, status_lines + "ERROR: FAT location does not match the boot sector, FAT not checked\n");
      EXPECT_TRUE(boxes.shown.empty());
      EXPECT_EQ(disk->writes, 0);
    } else {
      EXPECT_NE(after.find("\n Checking FAT ...\n"), std::string::npos) << after;
      EXPECT_NE(after.find("FAT1 != FAT2\n"), std::string::npos);
      EXPECT_EQ(disk->get(97), disk->get(1097));  // copied as designed
      EXPECT_EQ(disk->get(63)[36], 0xE8);         // the measured size stored
      EXPECT_EQ(disk->get(63)[14], 40);
    }
  }
}

// A volume that begins where FAT1 would lie (here at 600, as after an MBR
// rebuilt over a partition elsewhere): the FAT found behind it is that
// volume's, and nothing of it is copied, templates placed or not.
TEST_F(FatStep, AVolumeWhereTheFirstFatWouldLieIsLeftAlone) {
  for (bool templates_placed : {false, true}) {
    two_fats_at_1095();
    disk->at(97)[100] = 0x05;
    std::memcpy(disk->at(600).data(), BOOT_SECTOR_TEMPLATE, 512);
    image.sector(5)[0] = 0x5A;
    script_message_boxes({IDOK, IDOK});
    testing::internal::CaptureStdout();
    check_fat_and_repair(image, target_drive, SEVERITY_DAMAGED, true, templates_placed);
    output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Fat size : 1000 SECTORS = 0x7d000 BYTES \n"
                          "ERROR: FAT location does not match the boot sector, FAT not checked\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(disk->writes, 1);  // the boot area's changed sector alone
  }
}

TEST_F(FatStep, FreshMbrOfUnknownCapacityIsNeverOffered) {
  disk = &install_memory_disk(20000);
  ScriptedBoxes& boxes = script_message_boxes({IDOK, IDOK});
  run(SEVERITY_REMOVABLE, false);
  EXPECT_EQ(output, "ERROR: Hard Drive capacity unknown, MBR cannot be rebuilt\n");
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(disk->writes, 0);
}

}  // namespace
