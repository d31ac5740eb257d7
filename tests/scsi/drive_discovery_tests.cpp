#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "scsi/completion_state.h"
#include "scsi/drive_discovery.h"
#include "support/recording_backend.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A bus of answering targets: (adapter, target id) -> 24-byte model text.
using Bus = std::map<std::pair<int, int>, std::string>;

class DriveDiscovery : public testing::Test {
 protected:
  RecordingBackend& backend = install_recording_backend();

  void serve(const Bus& bus) {
    backend.responder = [bus](SRB_ExecSCSICmd& srb) -> std::uint8_t {
      auto found = bus.find({srb.SRB_HaId, srb.SRB_Target});
      if (found == bus.end()) return SS_NO_DEVICE;
      fill_inquiry_data(srb, found->second.c_str());
      return SS_COMP;
    };
  }

  std::string scan(int adapters) {
    CaptureStdout();
    select_target_drive(adapters);
    return GetCapturedStdout();
  }
};

TEST(AspiSupportWord, OnlyNoAdaptersWithStatusCompleteMeansAbsent) {
  RecordingBackend& backend = install_recording_backend();
  backend.support_word = 0x0100;
  EXPECT_FALSE(check_aspi_support().present);

  backend.support_word = 0xE800;  // no adapters, reported as an error status
  AspiSupport support = check_aspi_support();
  EXPECT_TRUE(support.present);
  EXPECT_EQ(support.adapter_count, 0);

  backend.support_word = 0xABCD0102;  // bits 16-31 are not looked at
  support = check_aspi_support();
  EXPECT_TRUE(support.present);
  EXPECT_EQ(support.adapter_count, 2);
}

TEST_F(DriveDiscovery, ScansEveryTargetOfEveryAdapterInOrder) {
  serve({});
  EXPECT_EQ(scan(2), "");
  ASSERT_EQ(backend.requests.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(backend.requests[i].block.SRB_HaId, i / 8);
    EXPECT_EQ(backend.requests[i].block.SRB_Target, i % 8);
    EXPECT_EQ(backend.requests[i].block.SRB_Lun, 0);
    EXPECT_EQ(backend.requests[i].block.CDBByte[0], 0x12);
  }
  EXPECT_EQ(target_drive.host_adapter, -1);
  EXPECT_EQ(target_drive.target_id, -1);
}

TEST_F(DriveDiscovery, NoAdaptersProbeNothing) {
  serve({{{0, 0}, "TOSHIBA MK6015MAP       "}});
  EXPECT_EQ(scan(0), "");
  EXPECT_TRUE(backend.requests.empty());
  EXPECT_EQ(target_drive.host_adapter, -1);
}

TEST_F(DriveDiscovery, ModelMatchIsCaseSensitiveOverSeventeenCharacters) {
  serve({{{0, 0}, "toshiba mk6015map       "},
         {{0, 1}, "TOSHIBA MK6015MA"},
         {{0, 2}, "FUJITSU MHK2060ATxyz1234"},
         {{0, 3}, "TOSHIBA MK6015MAP       "},
         {{0, 4}, "IBM     DTLA-307030     "}});
  EXPECT_EQ(scan(1),
            "   found Pellora HD 'FUJITSU MHK2060ATxyz1234'\n"
            "   found Pellora HD 'TOSHIBA MK6015MAP       '\n");
  EXPECT_EQ(target_drive.host_adapter, 0);
  EXPECT_EQ(target_drive.target_id, 3);
}

TEST_F(DriveDiscovery, LastMatchInScanOrderIsSelected) {
  serve({{{0, 1}, "TOSHIBA MK6015MAP       "}, {{1, 0}, "FUJITSU MHK2060AT       "}});
  EXPECT_EQ(scan(2),
            "   found Pellora HD 'TOSHIBA MK6015MAP       '\n"
            "   found Pellora HD 'FUJITSU MHK2060AT       '\n");
  EXPECT_EQ(target_drive.host_adapter, 1);
  EXPECT_EQ(target_drive.target_id, 0);
}

TEST_F(DriveDiscovery, LaterNonMatchingResponderKeepsTheSelection) {
  serve({{{0, 2}, "TOSHIBA MK6015MAP       "}, {{0, 5}, "QEMU    QEMU HARDDISK   "}});
  EXPECT_EQ(scan(1), "   found Pellora HD 'TOSHIBA MK6015MAP       '\n");
  EXPECT_EQ(target_drive.host_adapter, 0);
  EXPECT_EQ(target_drive.target_id, 2);
}

TEST_F(DriveDiscovery, EarlierAnswerIsNotTakenForTheCurrentTarget) {
  // Target 0 answers with a supported model; the silent targets after it
  // must not inherit its captured address.
  serve({{{0, 0}, "TOSHIBA MK6015MAP       "}});
  EXPECT_EQ(scan(1), "   found Pellora HD 'TOSHIBA MK6015MAP       '\n");
  EXPECT_EQ(target_drive.target_id, 0);
}

TEST_F(DriveDiscovery, FailedCapacityQueryLeavesZero) {
  completion_state.capacity = 0;
  target_drive = TargetDrive{0, 3, 0};
  backend.responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_ERR; };
  CaptureStdout();
  query_drive_capacity(target_drive);
  EXPECT_EQ(GetCapturedStdout(), "status=$4 : SRB completed with error\n");
  EXPECT_EQ(target_drive.capacity_sectors, 0u);
  EXPECT_EQ(backend.requests.at(0).block.SRB_Target, 3);
}

}  // namespace
