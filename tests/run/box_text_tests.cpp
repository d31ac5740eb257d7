// The boxes of the run word for word, as the user reads them: captions with
// their blanks, texts with their line breaks and the program's own slips.
#include "bootarea/boot_area_image.h"
#include "run/check_and_repair.h"
#include "run_test_helpers.h"

namespace {

std::vector<ShownBox> boxes_for(RunSeverity severity) {
  install_memory_disk(20000);
  BootAreaImage image{};
  ScriptedBoxes& boxes = script_message_boxes({IDOK, IDOK});
  testing::internal::CaptureStdout();
  check_fat_and_repair(image, target_drive, severity);
  testing::internal::GetCapturedStdout();
  std::vector<ShownBox> shown = boxes.shown;
  stop_scripting_message_boxes();
  return shown;
}

TEST(BoxTexts, DamagedDiskBoxes) {
  const std::vector<ShownBox> shown = boxes_for(SEVERITY_DAMAGED);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "  ERROR: Hard Drive file structure is damaged ! ");
  EXPECT_EQ(shown[0].text,
            "\nTessaly will now attempt to fix the file structure\nof the Pellora the hard disk. However, depending "
            "on\nthe type and extend of damage, this operation may\nmay not succeed.\n\nDo you want to proceed ?");
  EXPECT_EQ(shown[1].caption, "  About to repair the Pellora Hard Disk !  ");
  EXPECT_EQ(shown[1].text,
            "\nAfter this operation, you must reboot your PC\nand preferably run Scandisk (standard scan).\n\nAre you "
            "sure that you want to proceed ?");
  EXPECT_EQ(shown[0].style, 0x31u);
  EXPECT_EQ(shown[1].style, 0x31u);
}

TEST(BoxTexts, RemovableDiskBoxes) {
  const std::vector<ShownBox> shown = boxes_for(SEVERITY_REMOVABLE);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "  ERROR: Hard Disk is removable ! ");
  EXPECT_EQ(shown[0].text,
            "The Hard Disk is formatted as removable.\nThe Pellora Tervan will not recognize it.\nIf you have a "
            "Pellora Kessin, you may\nleave it removable, as it is.\n\nTessaly will repartition the disk. The "
            "structure\non the hard disk will be severely altered and you\nmay not be able to recover the data "
            "afterwards.\n\nDo you want to proceed ?");
  EXPECT_EQ(shown[1].caption, "  ERROR: Hard Drive file structure is damaged ! ");
  EXPECT_EQ(shown[1].text,
            "\nMake sure that the drive is NOT marked removable:\n   - goto Control_Panel->System->Disk_Drives\n   - "
            "select the Pellora_Drive->Settings and\n   - untick Removable.\n\nAfter this operation, you must reboot "
            "your PC\nand run Scandisk.\n\nDo you want to proceed ?");
}

TEST(BoxTexts, AllClearBox) {
  install_sample_disk(SMALL_DISK);
  ScriptedBoxes& boxes = script_message_boxes({});
  testing::internal::CaptureStdout();
  run_check_and_repair(target_drive);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, "  Pellora Hard Drive partition was found OK ! ");
  EXPECT_EQ(boxes.shown[0].text,
            "You may try to run Windows Scandisk to fix the file structure\nif you experience problems reading or "
            "writing to the drive.\n");
  EXPECT_EQ(boxes.shown[0].style, 0u);
  stop_scripting_message_boxes();
}

}  // namespace
