#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/console_hooks.h"
#include "scsi/aspi_requests.h"
#include "scsi/completion_state.h"
#include "scsi/request_memory.h"
#include "support/recording_backend.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::vector<std::uint8_t> cdb_of(const RecordedRequest& request) {
  return {request.block.CDBByte, request.block.CDBByte + request.block.SRB_CDBLen};
}

// Every byte of the block that the request layer does not set must be zero.
void expect_reserved_fields_zero(const SRB_ExecSCSICmd& block) {
  EXPECT_EQ(block.SRB_Hdr_Rsvd, 0u);
  EXPECT_EQ(block.SRB_Rsvd1, 0u);
  EXPECT_EQ(block.SRB_HaStat, 0u);
  EXPECT_EQ(block.SRB_TargStat, 0u);
  for (auto byte : block.SRB_Rsvd2) EXPECT_EQ(byte, 0u);
  for (int i = block.SRB_CDBLen; i < 16; ++i) EXPECT_EQ(block.CDBByte[i], 0u) << "CDB byte " << i;
  for (auto byte : block.SenseArea) EXPECT_EQ(byte, 0u);
}

using Completion = RecordingBackend::Completion;
using std::chrono::milliseconds;

class AspiRequests : public testing::Test {
 protected:
  RecordingBackend& backend = install_recording_backend();
  const RequestAllocator original_allocator = allocate_request_memory;
  const RequestWaitLimits original_limits = request_wait_limits;
  // A short grace for refusals; a timeout no sanitizer build gets near.
  AspiRequests() { request_wait_limits = {5, 10000}; }
  void TearDown() override {
    allocate_request_memory = original_allocator;
    request_wait_limits = original_limits;
  }
};

// The layer's thread: waits for the block held back and posts it.
std::thread post_when_held(RecordingBackend& backend, milliseconds delay) {
  return std::thread([&backend, delay] {
    while (backend.deferred.load() == nullptr) std::this_thread::yield();
    std::this_thread::sleep_for(delay);
    post_held_request(backend);
  });
}

TEST_F(AspiRequests, ReadAndWriteCarryTheSectorAndCountMostSignificantByteFirst) {
  std::uint8_t buffer[512] = {0xAB};
  aspi_read_sectors(1, 5, buffer, 0x12345678, 1);
  aspi_write_sectors(1, 5, buffer, 0x12345678, 1);
  ASSERT_EQ(backend.requests.size(), 2u);

  const SRB_ExecSCSICmd& read = backend.requests[0].block;
  EXPECT_EQ(cdb_of(backend.requests[0]),
            (std::vector<std::uint8_t>{0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0x01, 0}));
  EXPECT_EQ(read.SRB_Cmd, SC_EXEC_SCSI_CMD);
  EXPECT_EQ(read.SRB_Flags, 0x09);
  EXPECT_EQ(read.SRB_HaId, 1);
  EXPECT_EQ(read.SRB_Target, 5);
  EXPECT_EQ(read.SRB_Lun, 0);
  EXPECT_EQ(read.SRB_BufLen, 512u);
  // Pointers are copied out of the packed block before comparing: a
  // reference to a misaligned field is not allowed.
  const std::uint8_t* data = read.SRB_BufPointer;
  const void* posting_routine = read.SRB_PostProc;
  EXPECT_NE(data, buffer);  // a buffer of the request's own, never the caller's
  EXPECT_EQ(read.SRB_SenseLen, 14);
  EXPECT_EQ(read.SRB_CDBLen, 10);
  EXPECT_EQ(posting_routine, reinterpret_cast<void*>(&aspi_post_completion));
  expect_reserved_fields_zero(read);

  const SRB_ExecSCSICmd& write = backend.requests[1].block;
  EXPECT_EQ(cdb_of(backend.requests[1]),
            (std::vector<std::uint8_t>{0x2A, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0x01, 0}));
  EXPECT_EQ(write.SRB_Flags, 0x11);
  EXPECT_EQ(write.SRB_BufLen, 512u);
  EXPECT_EQ(backend.requests[1].out_data[0], 0xAB);
  expect_reserved_fields_zero(write);
}

TEST_F(AspiRequests, TransferLengthTravelsInTwoBytes) {
  std::vector<std::uint8_t> buffer(0x0102 * 512);
  aspi_read_sectors(0, 0, buffer.data(), 7, 0x0102);
  const SRB_ExecSCSICmd& read = backend.requests.at(0).block;
  EXPECT_EQ(read.CDBByte[7], 0x01);
  EXPECT_EQ(read.CDBByte[8], 0x02);
  EXPECT_EQ(read.CDBByte[5], 7);
  EXPECT_EQ(read.SRB_BufLen, 0x0102u * 512);
}

TEST_F(AspiRequests, InquiryAndReadCapacityUseTheirOwnSixtyFourByteBuffers) {
  aspi_inquiry(1, 3);
  aspi_read_capacity(0, 6);
  ASSERT_EQ(backend.requests.size(), 2u);
  const SRB_ExecSCSICmd& inquiry = backend.requests[0].block;
  // The allocation length, 64, in byte 4: a 0x40 in byte 3 would ask for
  // 16 KiB under the two-byte allocation length of current SCSI, far more
  // than the 64-byte buffer holds.
  EXPECT_EQ(cdb_of(backend.requests[0]), (std::vector<std::uint8_t>{0x12, 0, 0, 0, 0x40, 0}));
  EXPECT_EQ(inquiry.SRB_CDBLen, 6);
  EXPECT_EQ(inquiry.SRB_BufLen, 64u);
  EXPECT_EQ(inquiry.SRB_Flags, 0x09);
  EXPECT_EQ(inquiry.SRB_HaId, 1);
  EXPECT_EQ(inquiry.SRB_Target, 3);
  const std::uint8_t* inquiry_data = inquiry.SRB_BufPointer;
  EXPECT_NE(inquiry_data, nullptr);
  expect_reserved_fields_zero(inquiry);

  const SRB_ExecSCSICmd& capacity = backend.requests[1].block;
  EXPECT_EQ(cdb_of(backend.requests[1]), (std::vector<std::uint8_t>{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(capacity.SRB_CDBLen, 10);
  EXPECT_EQ(capacity.SRB_BufLen, 64u);
  EXPECT_EQ(capacity.SRB_Flags, 0x09);
  expect_reserved_fields_zero(capacity);
}

TEST_F(AspiRequests, InquiryCapturesTheModelTextAndItsAddress) {
  backend.responder = [](SRB_ExecSCSICmd& srb) -> std::uint8_t {
    fill_inquiry_data(srb, "TOSHIBA MK6015MAP       ");
    return SS_COMP;
  };
  aspi_inquiry(2, 4);
  EXPECT_EQ(completion_state.status.load(), SS_COMP);
  EXPECT_EQ(completion_state.inquiry_host_adapter, 2);
  EXPECT_EQ(completion_state.inquiry_target_id, 4);
  EXPECT_STREQ(completion_state.inquiry_model, "TOSHIBA MK6015MAP       ");

  // A zero byte at data byte 18 ends the text after ten characters.
  backend.responder = [](SRB_ExecSCSICmd& srb) -> std::uint8_t {
    fill_inquiry_data(srb, "TOSHIBA MK6015MAP       ");
    srb.SRB_BufPointer[18] = 0;
    return SS_COMP;
  };
  aspi_inquiry(2, 4);
  EXPECT_STREQ(completion_state.inquiry_model, "TOSHIBA MK");
}

TEST_F(AspiRequests, FailedInquiryIsSilentAndCapturesNothing) {
  backend.responder = [](SRB_ExecSCSICmd& srb) -> std::uint8_t {
    fill_inquiry_data(srb, "FUJITSU MHK2060AT       ");
    return SS_NO_DEVICE;
  };
  completion_state.inquiry_host_adapter = -1;
  completion_state.inquiry_target_id = -1;
  std::strcpy(completion_state.inquiry_model, "before");
  CaptureStdout();
  aspi_inquiry(0, 1);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(completion_state.status.load(), SS_NO_DEVICE);
  EXPECT_EQ(completion_state.inquiry_host_adapter, -1);
  EXPECT_EQ(completion_state.inquiry_target_id, -1);
  EXPECT_STREQ(completion_state.inquiry_model, "before");
}

TEST_F(AspiRequests, CapacityIsTheLastBlockAddressPlusOne) {
  backend.responder = [](SRB_ExecSCSICmd& srb) -> std::uint8_t {
    const std::uint8_t answer[8] = {0x00, 0x00, 0x01, 0xFF, 0xDE, 0xAD, 0xBE, 0xEF};
    std::memcpy(srb.SRB_BufPointer, answer, sizeof answer);
    return SS_COMP;
  };
  aspi_read_capacity(0, 0);
  EXPECT_EQ(completion_state.capacity, 512u);

  // A failure prints its line and keeps the earlier capture.
  backend.responder = [](SRB_ExecSCSICmd& srb) -> std::uint8_t {
    std::memset(srb.SRB_BufPointer, 0x11, 8);
    return SS_ERR;
  };
  CaptureStdout();
  aspi_read_capacity(0, 0);
  EXPECT_EQ(GetCapturedStdout(), "status=$4 : SRB completed with error\n");
  EXPECT_EQ(completion_state.capacity, 512u);
}

TEST_F(AspiRequests, FailedReadPrintsItsStatusAndLeavesTheCallersBuffer) {
  backend.responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_ERR; };
  auto* buffer = static_cast<std::uint8_t*>(std::malloc(512));
  CaptureStdout();
  aspi_read_sectors(0, 0, buffer, 9, 1);
  EXPECT_EQ(GetCapturedStdout(), "status=$4 : SRB completed with error\n");
  EXPECT_EQ(completion_state.status.load(), SS_ERR);
  EXPECT_FALSE(last_request_succeeded());
  buffer[0] = 1;  // still ours: the sanitizer build catches a premature free
  std::free(buffer);
}

TEST(AspiStatusLines, EveryValueHasItsText) {
  const std::pair<std::uint32_t, const char*> lines[] = {
      {0x00, "status=$0 : SRB being processed\n"},
      {0x01, "status=$1 : SRB completed without error\n"},
      {0x02, "status=$2 : SRB aborted\n"},
      {0x03, "status=$3 : Unable to abort SRB\n"},
      {0x04, "status=$4 : SRB completed with error\n"},
      {0x80, "status=$80 : Invalid ASPI command\n"},
      {0x81, "status=$81 : Invalid host adapter number\n"},
      {0x82, "status=$82 : SCSI device not installed\n"},
      {0xE0, "status=$e0 : Invalid parameter set in SRB\n"},
      {0xE4, "status=$e4 : ASPI for windows failed init\n"},
      {0xE5, "status=$e5 : No resources available to execute cmd\n"},
      {0xE6, "status=$e6 : Buffer size to big to handle!\n"},
      {0xE8, "status=$e8 : Unknown status ???\n"},
      {0xFFFFFFFF, "status=$ffffffff : No memory!\n"},
  };
  for (const auto& [value, text] : lines) {
    CaptureStdout();
    print_aspi_status(value);
    EXPECT_EQ(GetCapturedStdout(), text);
  }
}

TEST_F(AspiRequests, InlineCompletionNeverSleeps) {
  const auto sleeps = platform::sleep_call_count();
  std::uint8_t buffer[512];
  aspi_read_sectors(0, 0, buffer, 1, 1);
  aspi_inquiry(0, 0);
  EXPECT_EQ(platform::sleep_call_count(), sleeps);
  EXPECT_TRUE(last_request_succeeded());
}

TEST_F(AspiRequests, RequesterWaitsForACompletionPostedFromAnotherThread) {
  backend.completion = RecordingBackend::Completion::Deferred;
  backend.responder = [](SRB_ExecSCSICmd& srb) -> std::uint8_t {
    const std::uint8_t answer[4] = {0x00, 0x00, 0x0F, 0xFF};
    std::memcpy(srb.SRB_BufPointer, answer, sizeof answer);
    return SS_COMP;
  };
  std::thread poster([this] {
    SRB_ExecSCSICmd* srb = nullptr;
    while ((srb = backend.deferred.load()) == nullptr) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    reinterpret_cast<ASPI_POSTPROC>(srb->SRB_PostProc)(srb);
  });
  const auto sleeps = platform::sleep_call_count();
  aspi_read_capacity(0, 0);
  poster.join();
  EXPECT_GT(platform::sleep_call_count(), sleeps);
  EXPECT_EQ(completion_state.status.load(), SS_COMP);
  EXPECT_EQ(completion_state.capacity, 0x1000u);
}

TEST_F(AspiRequests, RefusedRequestCompletesWithTheRefusal) {
  backend.completion = RecordingBackend::Completion::Refuse;
  backend.refusal = SS_INVALID_SRB;
  CaptureStdout();
  aspi_read_capacity(0, 0);  // its block and buffer are kept in case a post still comes
  std::uint8_t buffer[512];
  aspi_read_sectors(0, 0, buffer, 0, 1);
  aspi_inquiry(0, 0);  // silent, as every INQUIRY failure
  EXPECT_EQ(GetCapturedStdout(),
            "status=$e0 : Invalid parameter set in SRB\nstatus=$e0 : Invalid parameter set in SRB\n");
  EXPECT_EQ(completion_state.status.load(), SS_INVALID_SRB);
}

TEST_F(AspiRequests, RefusalThatTheLayerPostsCompletesOnceThroughThePost) {
  // The layer refuses with one value and posts another, so the status shows
  // which side finished the request; finished twice, the block would be
  // freed twice.
  request_wait_limits.refusal_grace_ms = 10000;
  backend.refusal = SS_INVALID_HA;
  backend.responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_NO_DEVICE; };
  const std::int32_t held = abandoned_request_count();

  backend.completion = Completion::RefuseAndPost;
  const auto sleeps = platform::sleep_call_count();
  CaptureStdout();
  aspi_read_capacity(0, 0);
  EXPECT_EQ(GetCapturedStdout(), "status=$82 : SCSI device not installed\n");
  EXPECT_EQ(platform::sleep_call_count(), sleeps);  // posted inside the call: no wait

  backend.completion = Completion::RefuseAndDefer;
  std::thread layer = post_when_held(backend, milliseconds(5));
  CaptureStdout();
  aspi_read_capacity(0, 0);
  layer.join();
  EXPECT_EQ(GetCapturedStdout(), "status=$82 : SCSI device not installed\n");
  EXPECT_EQ(completion_state.status.load(), SS_NO_DEVICE);
  EXPECT_EQ(abandoned_request_count(), held);
}

TEST_F(AspiRequests, LatePostIsAbsorbedWithoutTouchingTheNextRequest) {
  const struct {
    Completion completion;
    const char* line;
    std::int32_t status;
  } cases[] = {
      {Completion::Deferred, "status=$2 : SRB aborted\n", SS_ABORTED},                   // timed out
      {Completion::RefuseAndDefer, "status=$82 : SCSI device not installed\n", SS_NO_DEVICE},  // refused
  };
  backend.refusal = SS_NO_DEVICE;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::int32_t held = abandoned_request_count();
    completion_state.capacity = 7;
    // Posted, the stale request would report success and 0x1000 sectors.
    backend.completion = c.completion;
    backend.responder = [](SRB_ExecSCSICmd& srb) -> std::uint8_t {
      const std::uint8_t answer[4] = {0x00, 0x00, 0x0F, 0xFF};
      std::memcpy(srb.SRB_BufPointer, answer, sizeof answer);
      return SS_COMP;
    };
    request_wait_limits.post_timeout_ms = 20;
    CaptureStdout();
    aspi_read_capacity(0, 0);
    EXPECT_EQ(GetCapturedStdout(), c.line);
    EXPECT_EQ(completion_state.status.load(), c.status);
    EXPECT_EQ(abandoned_request_count(), held + 1);
    SRB_ExecSCSICmd* stale = backend.deferred.exchange(nullptr);
    ASSERT_NE(stale, nullptr);

    // The next request fails; the stale post arrives while it is outstanding.
    request_wait_limits.post_timeout_ms = 10000;
    backend.completion = Completion::Deferred;
    backend.responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_ERR; };
    std::thread layer([&] {
      while (backend.deferred.load() == nullptr) std::this_thread::yield();
      reinterpret_cast<ASPI_POSTPROC>(stale->SRB_PostProc)(stale);
      std::this_thread::sleep_for(milliseconds(5));
      post_held_request(backend);
    });
    CaptureStdout();
    aspi_read_capacity(0, 0);
    layer.join();
    EXPECT_EQ(GetCapturedStdout(), "status=$4 : SRB completed with error\n");
    EXPECT_EQ(completion_state.status.load(), SS_ERR);
    EXPECT_EQ(completion_state.capacity, 7u);
    EXPECT_EQ(abandoned_request_count(), held);  // the stale block is freed
  }
}

TEST_F(AspiRequests, RequestThatIsNeverPostedFailsAfterTheTimeout) {
  // A player unplugged mid-run: the layer accepts requests and never posts.
  request_wait_limits.post_timeout_ms = 20;
  backend.completion = Completion::Deferred;
  const std::int32_t held = abandoned_request_count();
  std::uint8_t buffer[512] = {};
  const auto start = std::chrono::steady_clock::now();
  CaptureStdout();
  aspi_write_sectors(0, 6, buffer, 0, 1);
  aspi_inquiry(0, 6);  // silent, as every INQUIRY failure
  EXPECT_EQ(GetCapturedStdout(), "status=$2 : SRB aborted\n");
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(40));
  EXPECT_EQ(completion_state.status.load(), SS_ABORTED);
  EXPECT_EQ(abandoned_request_count(), held + 2);  // kept: the post may yet come

  // The write given up may still reach the disk, after anything written
  // later: no later write goes to that target. Reads and other targets do.
  backend.completion = Completion::Inline;
  const std::size_t sent = backend.requests.size();
  CaptureStdout();
  aspi_write_sectors(0, 6, buffer, 1, 1);
  EXPECT_EQ(GetCapturedStdout(), "status=$2 : SRB aborted\n");
  EXPECT_EQ(completion_state.status.load(), SS_ABORTED);
  EXPECT_EQ(backend.requests.size(), sent);
  aspi_read_sectors(0, 6, buffer, 1, 1);
  EXPECT_TRUE(last_request_succeeded());
  aspi_write_sectors(0, 5, buffer, 1, 1);
  EXPECT_TRUE(last_request_succeeded());
}

TEST_F(AspiRequests, ALatePostLandsInTheRequestsOwnBufferNotTheCallers) {
  request_wait_limits.post_timeout_ms = 20;
  backend.completion = Completion::Deferred;
  std::vector<std::uint8_t> sector(512, 0x11);
  CaptureStdout();
  aspi_read_sectors(0, 0, sector.data(), 95, 1);
  EXPECT_EQ(GetCapturedStdout(), "status=$2 : SRB aborted\n");
  // The layer completes the read a minute late, while the caller's buffer
  // already holds something else.
  SRB_ExecSCSICmd* stale = backend.deferred.exchange(nullptr);
  ASSERT_NE(stale, nullptr);
  std::memset(stale->SRB_BufPointer, 0xEE, 512);
  stale->SRB_Status = SS_COMP;
  reinterpret_cast<ASPI_POSTPROC>(stale->SRB_PostProc)(stale);
  EXPECT_EQ(sector, std::vector<std::uint8_t>(512, 0x11));
  EXPECT_EQ(completion_state.status.load(), SS_ABORTED);
}

TEST_F(AspiRequests, CompletedInsideTheCallWithoutAPostIsTakenAfterTheGrace) {
  request_wait_limits.completed_grace_ms = 30;
  backend.completion = Completion::CompleteAndDefer;
  backend.responder = [](SRB_ExecSCSICmd& srb) -> std::uint8_t {
    std::memset(srb.SRB_BufPointer, srb.CDBByte[0] == 0x25 ? 0 : 0x5A, 8);
    srb.SRB_BufPointer[3] = 0x3F;
    return SS_COMP;
  };
  const std::int32_t held = abandoned_request_count();
  const auto start = std::chrono::steady_clock::now();
  aspi_read_capacity(0, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(30));
  EXPECT_EQ(completion_state.status.load(), SS_COMP);
  EXPECT_EQ(completion_state.capacity, 0x40u);
  SRB_ExecSCSICmd* first = backend.deferred.exchange(nullptr);
  // Learnt: the next SS_COMP is the outcome at once, without a sleep.
  std::uint8_t sector[512] = {};
  const std::uint64_t sleeps = platform::sleep_call_count();
  aspi_read_sectors(0, 0, sector, 5, 1);
  EXPECT_EQ(platform::sleep_call_count(), sleeps);
  EXPECT_TRUE(last_request_succeeded());
  EXPECT_EQ(sector[0], 0x5A);
  SRB_ExecSCSICmd* second = backend.deferred.exchange(nullptr);
  EXPECT_EQ(abandoned_request_count(), held + 2);
  // Should their posts come after all, they are absorbed.
  reinterpret_cast<ASPI_POSTPROC>(first->SRB_PostProc)(first);
  reinterpret_cast<ASPI_POSTPROC>(second->SRB_PostProc)(second);
  backend.completion = Completion::Inline;
  aspi_read_sectors(0, 0, sector, 5, 1);
  EXPECT_EQ(abandoned_request_count(), held);
}

TEST_F(AspiRequests, PostRacingTheTimeoutFinishesTheRequestExactlyOnce) {
  // Whichever side wins, one status line and a status that matches it; the
  // loser's post is absorbed and its block freed by a later request.
  request_wait_limits.post_timeout_ms = 1;
  backend.responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_ERR; };
  const std::int32_t held = abandoned_request_count();
  std::uint8_t buffer[512];
  for (int i = 0; i < 100; ++i) {
    backend.completion = Completion::Deferred;
    std::thread layer = post_when_held(backend, milliseconds(i % 3));
    CaptureStdout();
    aspi_read_sectors(0, 0, buffer, 0, 1);
    layer.join();
    const std::string line = GetCapturedStdout();
    const std::int32_t status = completion_state.status.load();
    if (status == SS_ERR) {
      EXPECT_EQ(line, "status=$4 : SRB completed with error\n");
    } else {
      EXPECT_EQ(status, SS_ABORTED);
      EXPECT_EQ(line, "status=$2 : SRB aborted\n");
    }
  }
  backend.completion = Completion::Inline;
  backend.responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_COMP; };
  aspi_read_sectors(0, 0, buffer, 0, 1);
  EXPECT_EQ(abandoned_request_count(), held);
}

TEST_F(AspiRequests, PostingWithoutAStatusStillEndsTheWait) {
  backend.responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_PENDING; };
  std::uint8_t buffer[512];
  CaptureStdout();
  aspi_read_sectors(0, 0, buffer, 0, 1);
  GetCapturedStdout();
  EXPECT_NE(completion_state.status.load(), 0);
  EXPECT_FALSE(last_request_succeeded());
}

TEST_F(AspiRequests, RequestWithoutMemoryFailsWithNoMemoryStatus) {
  // The block cannot be allocated: nothing is sent.
  allocate_request_memory = [](std::size_t) -> void* { return nullptr; };
  std::uint8_t buffer[512];
  CaptureStdout();
  aspi_read_sectors(0, 0, buffer, 0, 1);
  EXPECT_EQ(GetCapturedStdout(), "status=$ffffffff : No memory!\n");
  EXPECT_EQ(completion_state.status.load(), -1);
  EXPECT_TRUE(backend.requests.empty());

  // The block can, the 64-byte buffer cannot: the block is released again.
  static int allocations;
  allocations = 0;
  allocate_request_memory = [](std::size_t n) -> void* { return ++allocations == 1 ? std::calloc(1, n) : nullptr; };
  CaptureStdout();
  aspi_inquiry(0, 0);
  EXPECT_EQ(GetCapturedStdout(), "status=$ffffffff : No memory!\n");
  EXPECT_EQ(completion_state.status.load(), -1);
  EXPECT_TRUE(backend.requests.empty());
}

}  // namespace
