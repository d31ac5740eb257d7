// The image disks seen through SendASPI32Command with real request blocks:
// what each SCSI command returns, the injected failures, and completion on
// another thread for "async" disks.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image_disk_fixture.h"
#include "platform/aspi_backend.h"
#include "platform/image/image_backend.h"

using namespace image_test;

namespace {

class ImageBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_posted(); }
  void TearDown() override { platform::install_aspi_backend(nullptr); }

  // Sends synchronously; the block must be posted exactly once, from inside.
  std::uint8_t run(SRB_ExecSCSICmd& srb) {
    reset_posted();
    EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
    EXPECT_EQ(posted.calls.load(), 1);
    EXPECT_EQ(posted.status.load(), srb.SRB_Status);
    return srb.SRB_Status;
  }

  static void expect_sense(const SRB_ExecSCSICmd& srb, int key, int asc) {
    EXPECT_EQ(srb.SRB_TargStat, 0x02);
    EXPECT_EQ(srb.SenseArea[0] & 0x7F, 0x70);
    EXPECT_EQ(srb.SenseArea[2], key);
    EXPECT_EQ(srb.SenseArea[12], asc);
    EXPECT_EQ(srb.SenseArea[13], 0);
  }
};

TEST_F(ImageBackendTest, InquiryAnswersDirectAccessDiskWithModel) {
  TempImage image(4);
  install_images(image.path() + ",id=3,model=FUJITSU MHK2060AT");
  std::uint8_t data[64];
  std::memset(data, 0xEE, sizeof data);
  SRB_ExecSCSICmd srb = inquiry_block(0, 3, data);
  ASSERT_EQ(run(srb), SS_COMP);
  EXPECT_EQ(srb.SRB_TargStat, 0);
  EXPECT_EQ(data[0], 0x00);          // direct access
  EXPECT_EQ(data[1] & 0x80, 0x00);   // not removable
  EXPECT_EQ(data[3] & 0x0F, 0x02);   // response format 2
  EXPECT_EQ(data[4], 31);            // 36 bytes in all
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 24), "FUJITSU MHK2060AT       ");
  EXPECT_EQ(data[36], 0xEE);  // nothing beyond the 36 bytes

  // A short allocation length cuts the data.
  std::memset(data, 0xEE, sizeof data);
  srb = inquiry_block(0, 3, data);
  srb.CDBByte[4] = 10;
  ASSERT_EQ(run(srb), SS_COMP);
  EXPECT_EQ(data[9], 'U');
  EXPECT_EQ(data[10], 0xEE);
}

TEST_F(ImageBackendTest, MissingTargetsAdaptersAndCommands) {
  TempImage image(4);
  install_images(image.path() + ",ha=1,id=2");
  std::uint8_t data[64];
  SRB_ExecSCSICmd srb = inquiry_block(1, 4, data);
  EXPECT_EQ(run(srb), SS_NO_DEVICE);
  srb = inquiry_block(0, 2, data);  // adapter 0 exists but is empty
  EXPECT_EQ(run(srb), SS_NO_DEVICE);
  srb = inquiry_block(1, 2, data);
  srb.SRB_Lun = 1;
  EXPECT_EQ(run(srb), SS_NO_DEVICE);
  srb = inquiry_block(2, 2, data);
  EXPECT_EQ(run(srb), SS_INVALID_HA);

  srb = capacity_block(1, 2, data);
  srb.CDBByte[0] = 0x1A;  // MODE SENSE(6): not understood
  EXPECT_EQ(run(srb), SS_ERR);
  expect_sense(srb, 0x05, 0x20);

  // Only SC_EXEC_SCSI_CMD is served: anything else is refused unposted.
  srb = inquiry_block(1, 2, data);
  srb.SRB_Cmd = SC_HA_INQUIRY;
  reset_posted();
  EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_CMD);
  EXPECT_EQ(posted.calls.load(), 0);
  EXPECT_EQ(SendASPI32Command(nullptr), SS_INVALID_SRB);
}

TEST_F(ImageBackendTest, CapacityIsFileSizeInSectors) {
  TempImage image(300, 100);  // a partial sector at the end does not count
  install_images(image.path());
  std::uint8_t data[64] = {};
  SRB_ExecSCSICmd srb = capacity_block(0, 0, data);
  ASSERT_EQ(run(srb), SS_COMP);
  const std::uint8_t expected[8] = {0x00, 0x00, 0x01, 0x2B, 0x00, 0x00, 0x02, 0x00};  // last 299, 512
  EXPECT_EQ(std::memcmp(data, expected, 8), 0);
}

TEST_F(ImageBackendTest, ReadsAndWritesReachTheRightSectors) {
  TempImage image(16);
  install_images(image.path());
  std::vector<std::uint8_t> buffer(3 * 512);
  SRB_ExecSCSICmd srb = transfer_block(0x28, 0, 0, 5, 3, buffer.data(), 3 * 512);
  ASSERT_EQ(run(srb), SS_COMP);
  for (std::size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], pattern(5 + i / 512, i % 512)) << i;

  std::vector<std::uint8_t> fresh(2 * 512, 0x5A);
  srb = transfer_block(0x2A, 0, 0, 14, 2, fresh.data(), 2 * 512);
  ASSERT_EQ(run(srb), SS_COMP);
  platform::install_aspi_backend(nullptr);  // close the image
  EXPECT_EQ(image.sector(15), std::vector<std::uint8_t>(512, 0x5A));
  EXPECT_EQ(image.sector(14), std::vector<std::uint8_t>(512, 0x5A));
  EXPECT_EQ(image.sector(13)[0], pattern(13, 0));
}

TEST_F(ImageBackendTest, TransfersPastTheEndOrLargerThanTheBufferFail) {
  TempImage image(16);
  install_images(image.path());
  std::vector<std::uint8_t> buffer(2 * 512, 0x11);
  SRB_ExecSCSICmd srb = transfer_block(0x28, 0, 0, 15, 2, buffer.data(), 2 * 512);
  EXPECT_EQ(run(srb), SS_ERR);
  expect_sense(srb, 0x05, 0x21);
  EXPECT_EQ(buffer[0], 0x11);  // nothing moved
  srb = transfer_block(0x2A, 0, 0, 0xFFFFFFFF, 1, buffer.data(), 512);
  EXPECT_EQ(run(srb), SS_ERR);
  expect_sense(srb, 0x05, 0x21);
  srb = transfer_block(0x28, 0, 0, 0, 2, buffer.data(), 1023);
  EXPECT_EQ(run(srb), SS_ERR);
  EXPECT_EQ(srb.SRB_HaStat, 0x12);
  EXPECT_EQ(buffer[0], 0x11);
  srb = transfer_block(0x28, 0, 0, 15, 1, buffer.data(), 512);  // the last sector is fine
  EXPECT_EQ(run(srb), SS_COMP);
}

TEST_F(ImageBackendTest, BadSectorsFailWholeRequestAndWriteNothing) {
  TempImage image(32);
  install_images(image.path() + ",badread=4+8-9,badwrite=20");
  std::vector<std::uint8_t> buffer(4 * 512, 0x11);
  SRB_ExecSCSICmd srb = transfer_block(0x28, 0, 0, 6, 4, buffer.data(), 4 * 512);  // 6..9 hits 8
  EXPECT_EQ(run(srb), SS_ERR);
  expect_sense(srb, 0x03, 0x11);
  EXPECT_EQ(srb.SenseArea[0], 0xF0);  // information field valid: the sector
  EXPECT_EQ(srb.SenseArea[6], 8);
  EXPECT_EQ(buffer[0], 0x11);
  srb = transfer_block(0x28, 0, 0, 5, 1, buffer.data(), 512);
  EXPECT_EQ(run(srb), SS_COMP);
  srb = transfer_block(0x28, 0, 0, 20, 1, buffer.data(), 512);  // badwrite does not hurt reads
  EXPECT_EQ(run(srb), SS_COMP);

  std::vector<std::uint8_t> fresh(2 * 512, 0x77);
  srb = transfer_block(0x2A, 0, 0, 19, 2, fresh.data(), 2 * 512);
  EXPECT_EQ(run(srb), SS_ERR);
  expect_sense(srb, 0x03, 0x0C);
  EXPECT_EQ(srb.SenseArea[6], 20);
  srb = transfer_block(0x2A, 0, 0, 4, 1, fresh.data(), 512);  // badread does not hurt writes
  EXPECT_EQ(run(srb), SS_COMP);
  platform::install_aspi_backend(nullptr);
  EXPECT_EQ(image.sector(19)[0], pattern(19, 0));
  EXPECT_EQ(image.sector(4)[0], 0x77);
}

TEST_F(ImageBackendTest, ReadOnlyAndRefusingDisks) {
  TempImage image(8);
  install_images(image.path() + ",ro,nocapacity,noinquiry");
  std::uint8_t data[64];
  SRB_ExecSCSICmd srb = inquiry_block(0, 0, data);
  EXPECT_EQ(run(srb), SS_ERR);
  srb = capacity_block(0, 0, data);
  EXPECT_EQ(run(srb), SS_ERR);
  std::vector<std::uint8_t> fresh(512, 0x77);
  srb = transfer_block(0x2A, 0, 0, 1, 1, fresh.data(), 512);
  EXPECT_EQ(run(srb), SS_ERR);
  expect_sense(srb, 0x07, 0x27);
  srb = transfer_block(0x28, 0, 0, 1, 1, fresh.data(), 512);
  EXPECT_EQ(run(srb), SS_COMP);
  EXPECT_EQ(fresh[0], pattern(1, 0));
  platform::install_aspi_backend(nullptr);
  EXPECT_EQ(image.sector(1)[0], pattern(1, 0));
}

TEST_F(ImageBackendTest, SenseNeverOverrunsTheBlock) {
  TempImage image(2);
  install_images(image.path());
  std::uint8_t data[64];
  SRB_ExecSCSICmd srb = capacity_block(0, 0, data);
  srb.CDBByte[0] = 0xFF;
  srb.SRB_SenseLen = 255;  // more than the block holds: ASan watches
  EXPECT_EQ(run(srb), SS_ERR);
  srb = capacity_block(0, 0, data);
  srb.CDBByte[0] = 0xFF;
  srb.SRB_SenseLen = 0;
  std::memset(srb.SenseArea, 0xAB, sizeof srb.SenseArea);
  EXPECT_EQ(run(srb), SS_ERR);
  EXPECT_EQ(srb.SenseArea[0], 0xAB);
}

TEST_F(ImageBackendTest, UnfitBlocksAreRefusedAsInvalid) {
  TempImage image(4);
  install_images(image.path());
  std::vector<std::uint8_t> buffer(512);
  SRB_ExecSCSICmd srb = transfer_block(0x2A, 0, 0, 0, 1, buffer.data(), 512);
  srb.SRB_Flags = SRB_DIR_IN | SRB_POSTING;  // a write that wants data in
  EXPECT_EQ(run(srb), SS_INVALID_SRB);
  srb = transfer_block(0x28, 0, 0, 0, 1, nullptr, 512);
  EXPECT_EQ(run(srb), SS_INVALID_SRB);
  srb = transfer_block(0x28, 0, 0, 0, 1, buffer.data(), 512);
  srb.SRB_CDBLen = 6;
  EXPECT_EQ(run(srb), SS_INVALID_SRB);
}

TEST_F(ImageBackendTest, UnopenableImagesAreNamedAndOthersServed) {
  TempImage image(4);
  TempImage tiny(0, 100);
  std::string errors;
  install_images("/nonexistent/x.img,id=1;" + image.path() + ";" + tiny.path() + ",id=5;/tmp", &errors);
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 3) << errors;
  EXPECT_NE(errors.find("'/nonexistent/x.img,id=1' left out: image '/nonexistent/x.img' does not exist"),
            std::string::npos);
  EXPECT_NE(errors.find("'/tmp' left out: '/tmp' is not a regular file"), std::string::npos);
  EXPECT_NE(errors.find("holds no whole sector"), std::string::npos);
  EXPECT_EQ(GetASPI32SupportInfo() & 0xFFFF, 0x0101u);
  std::uint8_t data[64];
  SRB_ExecSCSICmd srb = inquiry_block(0, 0, data);
  EXPECT_EQ(run(srb), SS_COMP);
  srb = inquiry_block(0, 1, data);
  EXPECT_EQ(run(srb), SS_NO_DEVICE);
}

TEST_F(ImageBackendTest, SupportWordCountsAdapters) {
  TempImage image(4);
  install_images(image.path() + ",ha=2;" + image.path() + ",ha=0,ro");
  EXPECT_EQ(GetASPI32SupportInfo(), 0x0103u);
  install_images("");
  EXPECT_EQ(GetASPI32SupportInfo(), 0xE800u);
}

// An "async" disk returns SS_PENDING and posts later from another thread;
// the request is carried out only then.
TEST_F(ImageBackendTest, AsyncDiskPostsLaterFromAnotherThread) {
  TempImage image(8);
  install_images(image.path() + ",async");
  std::vector<std::uint8_t> buffer(512, 0);
  SRB_ExecSCSICmd srb = transfer_block(0x28, 0, 0, 2, 1, buffer.data(), 512);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
  while (posted.calls.load() == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    std::this_thread::yield();
  }
  ASSERT_EQ(posted.calls.load(), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(platform::IMAGE_ASYNC_DELAY_US));
  EXPECT_NE(posted.thread, std::this_thread::get_id());
  EXPECT_EQ(posted.status.load(), SS_COMP);
  EXPECT_EQ(buffer[0], pattern(2, 0));
}

// Replacing the layer with a request still queued completes it first: the
// posting routine runs exactly once and nothing is touched afterwards.
TEST_F(ImageBackendTest, AsyncShutdownPostsWhatIsQueued) {
  TempImage image(8);
  install_images(image.path() + ",async,badread=3");
  auto srb = std::make_unique<SRB_ExecSCSICmd>();
  std::vector<std::uint8_t> buffer(512);
  *srb = transfer_block(0x28, 0, 0, 3, 1, buffer.data(), 512);
  ASSERT_EQ(SendASPI32Command(srb.get()), SS_PENDING);
  platform::install_aspi_backend(nullptr);
  EXPECT_EQ(posted.calls.load(), 1);
  EXPECT_EQ(posted.status.load(), SS_ERR);
}

}  // namespace

namespace {

bool opens_for_writing(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

// An image the file system lets us read but not write is still served, with
// every write failing as write protected.
TEST_F(ImageBackendTest, ImageOpenableOnlyForReadingIsServedWriteProtected) {
  TempImage image(4);
  ::chmod(image.path().c_str(), 0444);
  bool immutable = false;
  if (opens_for_writing(image.path())) {  // root ignores modes; try the immutable flag
    immutable = std::system(("chattr +i '" + image.path() + "' 2>/dev/null").c_str()) == 0;
  }
  if (opens_for_writing(image.path())) GTEST_SKIP() << "cannot make a file unwritable here";
  std::string errors;
  install_images(image.path(), &errors);
  EXPECT_EQ(errors, "");
  std::vector<std::uint8_t> buffer(512, 0x42);
  SRB_ExecSCSICmd srb = transfer_block(0x2A, 0, 0, 0, 1, buffer.data(), 512);
  EXPECT_EQ(run(srb), SS_ERR);
  expect_sense(srb, 0x07, 0x27);
  srb = transfer_block(0x28, 0, 0, 3, 1, buffer.data(), 512);
  EXPECT_EQ(run(srb), SS_COMP);
  EXPECT_EQ(buffer[0], pattern(3, 0));
  platform::install_aspi_backend(nullptr);
  if (immutable) std::system(("chattr -i '" + image.path() + "'").c_str());
}

}  // namespace

#include "platform/console_hooks.h"
#include "scsi/aspi_requests.h"
#include "scsi/completion_state.h"

namespace {

// With the request layer on top: against an "async" disk every request
// really waits in its 1 ms sleep, and still gets the right data; against a
// plain disk no request sleeps at all.
TEST_F(ImageBackendTest, RequestLayerWaitsOnlyForAsyncDisks) {
  TempImage image(8);
  std::vector<std::uint8_t> buffer(512);
  for (const bool async : {true, false}) {
    install_images(image.path() + (async ? ",async" : ""));
    const std::uint64_t sleeps_before = platform::sleep_call_count();
    for (std::uint32_t sector = 0; sector < 8; ++sector) {
      aspi_read_sectors(0, 0, buffer.data(), sector, 1);
      ASSERT_EQ(completion_state.status.load(), SS_COMP);
      ASSERT_EQ(buffer[100], pattern(sector, 100));
    }
    const std::uint64_t sleeps = platform::sleep_call_count() - sleeps_before;
    if (async) {
      // Nearly always one sleep a request; a loaded machine may let a post
      // overtake the requester's first look now and then.
      EXPECT_GE(sleeps, 1u);
    } else {
      EXPECT_EQ(sleeps, 0u);
    }
  }
}

}  // namespace
