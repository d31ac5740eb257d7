// Requests through the real Windows seam: the program's request layer, the
// DLL loaded at start-up, and the posting routine called back from the
// layer's own thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/win32_api.h"
#include "scsi/aspi_requests.h"
#include "scsi/completion_state.h"
#include "scsi/drive_discovery.h"
#include "test_disks.h"

namespace {

// What a posting routine of our own saw.
std::atomic<DWORD> posting_thread{0};
std::atomic<int> postings{0};

void __cdecl record_posting(SRB_ExecSCSICmd*) {
  posting_thread.store(GetCurrentThreadId());
  postings.fetch_add(1);
}

SRB_ExecSCSICmd read_request(std::uint8_t* buffer, std::uint32_t sector) {
  SRB_ExecSCSICmd srb{};
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = PLAYER_ADAPTER;
  srb.SRB_Target = PLAYER_TARGET;
  srb.SRB_Flags = SRB_DIR_IN | SRB_POSTING;
  srb.SRB_BufLen = 512;
  srb.SRB_BufPointer = buffer;
  srb.SRB_SenseLen = SENSE_LEN;
  srb.SRB_CDBLen = 10;
  srb.SRB_PostProc = reinterpret_cast<void*>(&record_posting);
  srb.CDBByte[0] = 0x28;
  srb.CDBByte[5] = static_cast<std::uint8_t>(sector);
  srb.CDBByte[8] = 1;
  return srb;
}

bool sector_has_pattern(const std::uint8_t* data, std::uint32_t sector) {
  for (std::uint32_t i = 0; i < 512; ++i) {
    if (data[i] != pattern_byte(sector, i)) return false;
  }
  return true;
}

TEST(TestLayerPosting, CompletesLaterOnAThreadOfItsOwn) {
  std::vector<std::uint8_t> buffer(512);
  SRB_ExecSCSICmd srb = read_request(buffer.data(), 3);
  const int before = postings.load();
  ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
  for (int waited = 0; postings.load() == before && waited < 2000; ++waited) Sleep(1);
  ASSERT_EQ(postings.load(), before + 1) << "posted exactly once";
  EXPECT_NE(posting_thread.load(), GetCurrentThreadId());
  EXPECT_EQ(srb.SRB_Status, SS_COMP);
  EXPECT_TRUE(sector_has_pattern(buffer.data(), 3));
}

TEST(TestLayerPosting, RefusesAnEmptyRequestWithoutPosting) {
  const int before = postings.load();
  EXPECT_EQ(SendASPI32Command(nullptr), SS_INVALID_SRB);
  Sleep(20);
  EXPECT_EQ(postings.load(), before);
}

TEST(TestLayerPosting, RefusesOtherCommandsAtOnceWithoutPosting) {
  std::vector<std::uint8_t> buffer(512);
  SRB_ExecSCSICmd srb = read_request(buffer.data(), 0);
  srb.SRB_Cmd = SC_RESET_DEV;
  const int before = postings.load();
  EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_CMD);
  Sleep(20);
  EXPECT_EQ(postings.load(), before);
}

TEST(RequestsThroughTheDll, InquiryCapturesAdapterTargetAndModel) {
  completion_state.inquiry_host_adapter = -1;
  completion_state.inquiry_target_id = -1;
  aspi_inquiry(OTHER_ADAPTER, OTHER_TARGET);
  ASSERT_EQ(completion_state.status.load(), SS_COMP);
  EXPECT_EQ(completion_state.inquiry_host_adapter, OTHER_ADAPTER);
  EXPECT_EQ(completion_state.inquiry_target_id, OTHER_TARGET);
  EXPECT_STREQ(completion_state.inquiry_model, "IBM     DTLA-307030     ");
}

TEST(RequestsThroughTheDll, InquiryOfAnEmptyTargetLeavesTheCaptures) {
  completion_state.inquiry_host_adapter = -1;
  aspi_inquiry(PLAYER_ADAPTER, 0);
  EXPECT_EQ(completion_state.status.load(), SS_NO_DEVICE);
  EXPECT_EQ(completion_state.inquiry_host_adapter, -1);
}

TEST(RequestsThroughTheDll, DiscoverySelectsThePlayerAndReadsItsCapacity) {
  TargetDrive& drive = select_target_drive(2);
  ASSERT_EQ(drive.host_adapter, PLAYER_ADAPTER);
  EXPECT_EQ(drive.target_id, PLAYER_TARGET);
  query_drive_capacity(drive);
  EXPECT_EQ(drive.capacity_sectors, TEST_DISK_SECTORS);
}

TEST(RequestsThroughTheDll, ReadsWaitForThePostingAndGetTheSector) {
  std::vector<std::uint8_t> buffer(512);
  for (std::uint32_t sector : {0u, 1u, 63u}) {
    aspi_read_sectors(PLAYER_ADAPTER, PLAYER_TARGET, buffer.data(), sector, 1);
    ASSERT_EQ(completion_state.status.load(), SS_COMP) << "sector " << sector;
    EXPECT_TRUE(sector_has_pattern(buffer.data(), sector)) << "sector " << sector;
  }
}

TEST(RequestsThroughTheDll, FailuresComeBackAsTheirStatus) {
  std::vector<std::uint8_t> buffer(512);
  aspi_read_sectors(PLAYER_ADAPTER, PLAYER_TARGET, buffer.data(), BAD_READ_SECTOR, 1);
  EXPECT_EQ(completion_state.status.load(), SS_ERR);
  aspi_read_sectors(PLAYER_ADAPTER, PLAYER_TARGET, buffer.data(), TEST_DISK_SECTORS, 1);
  EXPECT_EQ(completion_state.status.load(), SS_ERR) << "past the end";
  aspi_write_sectors(OTHER_ADAPTER, OTHER_TARGET, buffer.data(), 0, 1);
  EXPECT_EQ(completion_state.status.load(), SS_ERR) << "read-only disk";
  aspi_write_sectors(PLAYER_ADAPTER, PLAYER_TARGET, buffer.data(), 40, 1);
  EXPECT_EQ(completion_state.status.load(), SS_ERR) << "a disk the run has not claimed is not written";
}

TEST(RequestsThroughTheDll, WritesReachTheImageFile) {
  // Claimed as the run claims it; this machine shows no \\.\PhysicalDriveN,
  // so there is nothing to lock.
  TargetDrive& drive = select_target_drive(2);
  claim_target_drive(drive);
  std::vector<std::uint8_t> sector(512, 0xA5);
  aspi_write_sectors(PLAYER_ADAPTER, PLAYER_TARGET, sector.data(), 40, 1);
  ASSERT_EQ(completion_state.status.load(), SS_COMP);

  std::ifstream image(player_image_path(), std::ios::binary);
  image.seekg(40 * 512);
  std::vector<char> on_disk(512);
  image.read(on_disk.data(), 512);
  ASSERT_TRUE(image.good());
  EXPECT_EQ(std::memcmp(on_disk.data(), sector.data(), 512), 0);

  std::vector<std::uint8_t> back(512);
  aspi_read_sectors(PLAYER_ADAPTER, PLAYER_TARGET, back.data(), 40, 1);
  EXPECT_EQ(back, sector);
}

}  // namespace
