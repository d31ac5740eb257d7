#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/console_hooks.h"
#include "platform/win32_api.h"
#include "run/command_line.h"
#include "run/startup.h"
#include "support/memory_disk.h"
#include "support/recording_backend.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::string BANNER = "\nPellora Hard Drive Check Utility - (c) the tessaly authors Ver 1.07\n\n";

struct Box {
  std::string text, caption;
  unsigned style;
};

class StartUp : public testing::Test {
 protected:
  RecordingBackend& backend = install_recording_backend();
  std::vector<Box> boxes;
  std::string output;

  void SetUp() override {
    verbose_level = 1;
    platform::set_message_box_handler([this](const char* text, const char* caption, unsigned style) {
      boxes.push_back({text, caption, style});
      return IDOK;
    });
    backend.responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_NO_DEVICE; };
  }
  void TearDown() override { platform::set_message_box_handler(nullptr); }

  int run(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "tessaly");
    CaptureStdout();
    int code = tessaly_main(static_cast<int>(arguments.size()), arguments.data());
    output = GetCapturedStdout();
    return code;
  }
};

TEST_F(StartUp, HelpIsAnsweredBeforeAspiIsProbed) {
  backend.support_word = 0x0100;
  EXPECT_EQ(run({"?x", "-v2"}), 0);
  EXPECT_EQ(output, BANNER +
                        "tessaly [-options] [+options] [device_number] [rw_file_hdName]\n"
                        "   ?    : display help page\n"
                        "   -vN  : turn on verbose mode (level N)\n");
  EXPECT_EQ(backend.support_queries, 0);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(verbose_level, 1);
}

TEST_F(StartUp, AbsentAspiEndsBeforeTheOptionsAreRead) {
  backend.support_word = 0x0100;
  EXPECT_EQ(run({"-x"}), EXIT_NO_ASPI);
  EXPECT_EQ(output, BANNER + "ERROR: no ASPI for WIN32 support detected\n");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "            This program requires\nWindows 98 SE or Windows Millenium");
  EXPECT_EQ(boxes[0].caption, "  ERROR: no ASPI for WIN32 support detected !  ");
  EXPECT_EQ(boxes[0].style, 0x30u);
  EXPECT_TRUE(backend.requests.empty());
}

TEST_F(StartUp, UnknownOptionEndsWithoutDiscovery) {
  EXPECT_EQ(run({"-v2", "-q"}), 0);
  EXPECT_EQ(output, BANNER + "Option q not suported. See all features with [?] Option\n");
  EXPECT_EQ(backend.support_queries, 1);
  EXPECT_TRUE(backend.requests.empty());
  EXPECT_TRUE(boxes.empty());
}

TEST_F(StartUp, NoDriveEndsWithItsBoxAndExitCode) {
  backend.support_word = 0x0102;
  EXPECT_EQ(run({"-v$10"}), EXIT_NO_DRIVE);
  EXPECT_EQ(output, BANNER + "AToL: ''=$10\nERROR: target device not found\n");
  EXPECT_EQ(verbose_level, 16);
  EXPECT_EQ(backend.requests.size(), 16u);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "The Pellora Hard Drive has not been detected:\n   - check connection to USB port\n"
            "   - Pellora must be powered on and\n   - USB icon shown on Pellora Diplay");
  EXPECT_EQ(boxes[0].caption, "  ERROR: Pellora Hard Drive not detected ! ");
  EXPECT_EQ(boxes[0].style, 0x30u);
}

TEST_F(StartUp, ErrorStatusWithoutAdaptersScansNothing) {
  backend.support_word = 0xE800;
  EXPECT_EQ(run({}), EXIT_NO_DRIVE);
  EXPECT_TRUE(backend.requests.empty());
  EXPECT_EQ(output, BANNER + "ERROR: target device not found\n");
}

// A WNASPI32.DLL that serves only a CD writer hides nothing: the player's
// disk is looked for behind the next layer, claimed there before it is read,
// and checked.
TEST_F(StartUp, ADiskTheFirstLayerDoesNotShowIsFoundBehindTheNext) {
  backend.support_word = 0x0101;
  MemoryDisk* disk = nullptr;
  std::size_t scanned = 0;  // the first layer is gone once the next one is installed
  backend.next = [this, &disk, &scanned] {
    scanned = backend.requests.size();
    return sample_disk_backend(40000, disk);
  };
  EXPECT_EQ(run({}), 0);
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(scanned, 8u);  // the first layer's INQUIRY scan
  EXPECT_NE(output.find("   found Pellora HD 'TOSHIBA MK6015MAP       '\n"), std::string::npos);
  EXPECT_NE(output.find("Pellora Hard Drive is OK\n"), std::string::npos);
  EXPECT_EQ(disk->claims, 1);
  EXPECT_EQ(disk->transfers_at_claim, 0u);
  EXPECT_GE(disk->reads, 95);
}

}  // namespace
