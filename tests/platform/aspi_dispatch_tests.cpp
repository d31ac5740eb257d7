// The exported ASPI functions: the backend chosen from ASPI_DISKS, the
// ASPI_SUPPORT override, forwarding to an installed backend, and a posting
// routine that sends its next request from inside the call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "image_disk_fixture.h"
#include "platform/aspi_backend.h"
#include "platform/dispatch/support_override.h"

using namespace image_test;

namespace {

// Sets or clears an environment variable for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old, had_ = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_, saved_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string saved_;
  bool had_ = false;
};

class AspiDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::install_aspi_backend(nullptr); }
  void TearDown() override { platform::install_aspi_backend(nullptr); }
};

TEST_F(AspiDispatchTest, AspiDisksChoosesImageDisksOnFirstUse) {
  TempImage image(4);
  ScopedEnv disks("ASPI_DISKS", (image.path() + ",ha=1,model=FUJITSU MHK2060AT").c_str());
  ScopedEnv support("ASPI_SUPPORT", nullptr);
  EXPECT_EQ(GetASPI32SupportInfo(), 0x0102u);
  std::uint8_t data[64] = {};
  SRB_ExecSCSICmd srb = inquiry_block(1, 0, data);
  reset_posted();
  EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
  EXPECT_EQ(posted.calls.load(), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 7), "FUJITSU");
}

TEST_F(AspiDispatchTest, EmptyAspiDisksMeansNoAdapters) {
  ScopedEnv disks("ASPI_DISKS", "");
  ScopedEnv support("ASPI_SUPPORT", nullptr);
  EXPECT_EQ(GetASPI32SupportInfo(), 0xE800u);
}

TEST_F(AspiDispatchTest, AspiSupportOverridesEveryBackend) {
  TempImage image(4);
  ScopedEnv support("ASPI_SUPPORT", "0x0100");
  {
    ScopedEnv disks("ASPI_DISKS", image.path().c_str());
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0100u);
  }
  platform::install_aspi_backend(nullptr);
  ScopedEnv no_disks("ASPI_DISKS", nullptr);  // the machine's own devices
  EXPECT_EQ(GetASPI32SupportInfo(), 0x0100u);
}

TEST(SupportOverride, ParsesDecimalAndHexAndRefusesTheRest) {
  std::ostringstream errors;
  std::uint32_t word = 7;
  EXPECT_FALSE(platform::parse_support_override(nullptr, word, errors));
  EXPECT_TRUE(platform::parse_support_override("258", word, errors));
  EXPECT_EQ(word, 258u);
  EXPECT_TRUE(platform::parse_support_override("0xE800", word, errors));
  EXPECT_EQ(word, 0xE800u);
  EXPECT_EQ(errors.str(), "");
  EXPECT_FALSE(platform::parse_support_override("0x1FFFFFFFF", word, errors));
  EXPECT_FALSE(platform::parse_support_override("absent", word, errors));
  EXPECT_EQ(word, 0xE800u);
  EXPECT_NE(errors.str().find("'absent'"), std::string::npos);
}

// A backend that answers a fixed word and records what it is sent.
class FakeBackend : public platform::AspiBackend {
 public:
  explicit FakeBackend(SRB_ExecSCSICmd** seen) : seen_(seen) {}
  std::uint32_t support_info() override { return 0x0105; }
  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    *seen_ = &srb;
    return SS_ABORTED;
  }

 private:
  SRB_ExecSCSICmd** seen_;
};

TEST_F(AspiDispatchTest, InstalledBackendReceivesTheBlockItself) {
  ScopedEnv support("ASPI_SUPPORT", nullptr);
  SRB_ExecSCSICmd* seen = nullptr;
  platform::install_aspi_backend(std::make_unique<FakeBackend>(&seen));
  EXPECT_EQ(GetASPI32SupportInfo(), 0x0105u);
  SRB_ExecSCSICmd srb{};
  EXPECT_EQ(SendASPI32Command(&srb), SS_ABORTED);
  EXPECT_EQ(seen, &srb);
}

// The posting routine of a synchronous disk runs inside SendASPI32Command;
// sending the next request from there must not hang.
std::uint8_t chained_data[64];
SRB_ExecSCSICmd chained_second;
int chained_posts = 0;

void post_and_chain(SRB_ExecSCSICmd* srb) {
  ++chained_posts;
  if (srb != &chained_second) SendASPI32Command(&chained_second);
}

TEST_F(AspiDispatchTest, PostingRoutineMaySendTheNextRequest) {
  TempImage image(4);
  install_images(image.path());
  SRB_ExecSCSICmd first = capacity_block(0, 0, chained_data);
  first.SRB_PostProc = reinterpret_cast<void*>(&post_and_chain);
  chained_second = inquiry_block(0, 0, chained_data);
  chained_second.SRB_PostProc = reinterpret_cast<void*>(&post_and_chain);
  chained_posts = 0;
  EXPECT_EQ(SendASPI32Command(&first), SS_COMP);
  EXPECT_EQ(chained_posts, 2);
  EXPECT_EQ(chained_second.SRB_Status, SS_COMP);
}

}  // namespace
