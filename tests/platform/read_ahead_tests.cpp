// The read-ahead cache over a scripted disk: every request it answers must
// come back exactly as the disk alone answers it (status bytes, sense, data,
// one posting), with fewer requests reaching the disk.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <vector>

#include "platform/common/srb_outcome.h"
#include "platform/readahead/read_ahead_backend.h"
#include "support/recording_backend.h"

namespace {

constexpr std::uint32_t SECTORS = 5000;

// A disk of SECTORS sectors, each filled with a pattern of its number, some
// of them failing to read or write with medium-error sense.
struct ScriptedDisk {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(SECTORS * 512);
  std::set<std::uint32_t> bad_reads, bad_writes;
  bool capacity_fails = false;

  ScriptedDisk() {
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / 512 * 7 + i % 251);
  }

  std::uint8_t answer(SRB_ExecSCSICmd& srb) {
    const std::uint32_t first = (std::uint32_t{srb.CDBByte[2]} << 24) | (std::uint32_t{srb.CDBByte[3]} << 16) |
                                (std::uint32_t{srb.CDBByte[4]} << 8) | srb.CDBByte[5];
    const std::uint32_t count = (std::uint32_t{srb.CDBByte[7]} << 8) | srb.CDBByte[8];
    switch (srb.CDBByte[0]) {
      case 0x25:
        if (capacity_fails) {
          platform::set_check_condition(srb, platform::SENSE_NOT_READY);
          return SS_ERR;
        }
        srb.SRB_BufPointer[2] = (SECTORS - 1) >> 8;  // last sector, then 512-byte blocks
        srb.SRB_BufPointer[3] = (SECTORS - 1) & 0xFF;
        srb.SRB_BufPointer[6] = 2;
        platform::set_good(srb);
        return SS_COMP;
      case 0x28:
      case 0x2A: {
        const bool write = srb.CDBByte[0] == 0x2A;
        for (std::uint32_t s = first; s < first + count; ++s) {
          if (s >= SECTORS) platform::set_check_condition(srb, platform::SENSE_LBA_OUT_OF_RANGE, s);
          else if ((write ? bad_writes : bad_reads).count(s)) platform::set_check_condition(srb, platform::SENSE_UNRECOVERED_READ, s);
          if (srb.SRB_Status == SS_ERR) return SS_ERR;
          std::uint8_t* disk = &bytes[s * 512];
          std::uint8_t* buffer = srb.SRB_BufPointer + (s - first) * 512;
          if (write) std::copy(buffer, buffer + 512, disk);
          else std::copy(disk, disk + 512, buffer);
        }
        platform::set_good(srb);
        return SS_COMP;
      }
      default:
        return SS_COMP;
    }
  }
};

std::atomic<int> posts{0};
void count_post(SRB_ExecSCSICmd*) { ++posts; }

// What the requester sees of one request.
struct Seen {
  std::uint32_t returned, status, ha, target, posted;
  std::vector<std::uint8_t> sense, data;
  bool operator==(const Seen&) const = default;
};

// The same disk behind the cache and alone.
struct Stack {
  ScriptedDisk disk;
  RecordingBackend* inner;
  std::unique_ptr<platform::AspiBackend> top;
  std::uint8_t target = 0;

  Stack(bool cached, RecordingBackend::Completion completion) {
    auto backend = std::make_unique<RecordingBackend>();
    inner = backend.get();
    inner->completion = completion;
    inner->responder = [this](SRB_ExecSCSICmd& srb) { return disk.answer(srb); };
    top = cached ? platform::make_read_ahead_backend(std::move(backend)) : std::move(backend);
  }

  Seen request(std::uint8_t opcode, std::uint32_t sector, std::uint8_t count = 1, std::uint8_t fill = 0) {
    std::vector<std::uint8_t> buffer(opcode == 0x25 ? 8 : count * 512u, fill);
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Target = target;
    srb.SRB_Flags = static_cast<std::uint8_t>((opcode == 0x2A ? SRB_DIR_OUT : SRB_DIR_IN) | SRB_POSTING);
    srb.SRB_BufLen = static_cast<std::uint32_t>(buffer.size());
    srb.SRB_BufPointer = buffer.data();
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = 10;
    srb.SRB_PostProc = reinterpret_cast<void*>(&count_post);
    srb.CDBByte[0] = opcode;
    srb.CDBByte[2] = static_cast<std::uint8_t>(sector >> 24), srb.CDBByte[3] = static_cast<std::uint8_t>(sector >> 16);
    srb.CDBByte[4] = static_cast<std::uint8_t>(sector >> 8), srb.CDBByte[5] = static_cast<std::uint8_t>(sector);
    if (opcode != 0x25) srb.CDBByte[8] = count;
    const int before = posts;
    const std::uint32_t returned = top->send(srb);
    while (returned == SS_PENDING && posts == before) std::this_thread::yield();
    const void* routine = srb.SRB_PostProc;  // a copy: the block is packed
    EXPECT_EQ(routine, reinterpret_cast<void*>(&count_post));
    // Completed at once or later is the layer's choice; both are accepted.
    return {returned == SS_PENDING ? SS_COMP : returned, srb.SRB_Status, srb.SRB_HaStat, srb.SRB_TargStat, static_cast<std::uint32_t>(posts - before),
            std::vector<std::uint8_t>(srb.SenseArea, srb.SenseArea + sizeof srb.SenseArea), buffer};
  }
  Seen read(std::uint32_t sector) { return request(0x28, sector); }
  std::size_t reads() const { return windows_from(0).size(); }
  // The sector counts of the READ(10)s that reached the disk, from request `first` on.
  std::vector<std::uint32_t> windows_from(std::size_t first) const {
    std::vector<std::uint32_t> counts;
    for (std::size_t i = first; i < inner->requests.size(); ++i) {
      const std::uint8_t* cdb = inner->requests[i].block.CDBByte;
      if (cdb[0] == 0x28) counts.push_back((std::uint32_t{cdb[7]} << 8) | cdb[8]);
    }
    return counts;
  }
};

class ReadAhead : public ::testing::TestWithParam<RecordingBackend::Completion> {
 protected:
  Stack cached{true, GetParam()};
  Stack alone{false, GetParam()};

  // Runs the same request on both stacks and requires the same outcome.
  Seen both(std::uint8_t opcode, std::uint32_t sector, std::uint8_t count = 1, std::uint8_t fill = 0) {
    const Seen a = cached.request(opcode, sector, count, fill);
    EXPECT_EQ(a, alone.request(opcode, sector, count, fill)) << "opcode " << int(opcode) << " sector " << sector;
    EXPECT_EQ(a.posted, a.returned == SS_COMP ? 1u : 0u);
    return a;
  }
  void read_range(std::uint32_t first, std::uint32_t end) {
    for (std::uint32_t s = first; s < end; ++s) both(0x28, s);
  }
};

TEST_P(ReadAhead, MissesReadAWindowAndHitsCompleteAsTheDiskDoes) {
  both(0x25, 0);
  read_range(10, 300);
  // Windows from 10, 138 and 266, and nothing else read.
  ASSERT_EQ(cached.reads(), 3u);
  EXPECT_EQ(cached.inner->requests[1].block.CDBByte[8], 128);
  EXPECT_EQ(cached.inner->requests.back().block.CDBByte[5], 266 & 0xFF);
  // Multi-sector reads pass through unchanged; a read beyond the end too.
  both(0x28, 20, 4);
  EXPECT_EQ(both(0x28, SECTORS).status, SS_ERR);
  EXPECT_EQ(cached.reads(), 5u);
}

// A window is what the device takes in one command, up to 1 MiB (2048
// sectors), and the last one ends with the disk. Each row reads a target of
// its own, whose limit the cache asks before its first read, sectors at the
// ends of its windows.
TEST_P(ReadAhead, AWindowIsTheDeviceLimitUpTo1MiBAndEndsWithTheDisk) {
  struct Row {
    std::uint32_t device_limit;
    std::vector<std::uint32_t> sectors, windows;
  };
  const Row rows[] = {
      {50, {SECTORS - 60, SECTORS - 11, SECTORS - 10, SECTORS - 1}, {50, 10}},
      {1000, {0, 999, 1000}, {1000, 1000}},  // less than 1 MiB
      {2048, {0, 2047, 2048}, {2048, 2048}},  // 1 MiB
      {2049, {0, 2047, 2048}, {2048, 2048}},  // more: 1 MiB all the same
      {65535, {0, 2047, 2048}, {2048, 2048}},
      {65535, {SECTORS - 2100, SECTORS - 53, SECTORS - 52, SECTORS - 1}, {2048, 52}},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    cached.target = alone.target = static_cast<std::uint8_t>(i);
    cached.inner->max_transfer = row.device_limit;
    const std::size_t before = cached.inner->requests.size();
    both(0x25, 0);
    for (std::uint32_t sector : row.sectors) both(0x28, sector);
    EXPECT_EQ(cached.windows_from(before), row.windows) << "limit " << row.device_limit;
  }
}

// The cache holds two windows of 1 MiB, not three: the least recently used
// one makes room.
TEST_P(ReadAhead, TheCacheHoldsTwoOfTheLongestWindows) {
  cached.inner->max_transfer = 4096;
  both(0x25, 0);
  for (std::uint32_t sector : {0u, 2047u, 2048u, 4095u, 0u, 2048u}) both(0x28, sector);
  EXPECT_EQ(cached.windows_from(0), (std::vector<std::uint32_t>{2048, 2048}));
  for (std::uint32_t sector : {4096u, 2048u, 0u}) both(0x28, sector);
  EXPECT_EQ(cached.windows_from(0), (std::vector<std::uint32_t>{2048, 2048, 904, 2048}));
}

TEST_P(ReadAhead, ABadSectorCostsOneCommandAndItsNeighboursReadAlone) {
  cached.disk.bad_reads = alone.disk.bad_reads = {70};
  both(0x25, 0);
  read_range(10, 200);
  // Window 10-137 fails; 10 is read alone, then 11-137 one each (70 fails as
  // it does alone), then a window from 138.
  EXPECT_EQ(cached.reads(), 1u + 128u + 1u);
  // A read just before the failed window reads ahead only up to it.
  both(0x28, 5);
  EXPECT_EQ(cached.inner->requests.back().block.CDBByte[8], 5);
}

TEST_P(ReadAhead, NoReadAheadWithoutACapacity) {
  read_range(10, 20);
  EXPECT_EQ(cached.reads(), 10u);
  cached.disk.capacity_fails = alone.disk.capacity_fails = true;
  both(0x25, 0);
  read_range(10, 20);
  EXPECT_EQ(cached.reads(), 20u);
  cached.disk.capacity_fails = alone.disk.capacity_fails = false;
  both(0x25, 0);
  read_range(10, 20);
  EXPECT_EQ(cached.reads(), 21u);
}

// A read after a write checks what the disk kept: every written sector,
// whatever the write's outcome, is read from the disk again, alone; the
// sectors around it still come from the cache.
TEST_P(ReadAhead, WritesGoOnAsIssuedAndWrittenSectorsAreReadFromTheDisk) {
  cached.disk.bad_writes = alone.disk.bad_writes = {13};
  both(0x25, 0);
  read_range(10, 20);
  EXPECT_EQ(both(0x2A, 12, 1, 0xAB).status, SS_COMP);
  EXPECT_EQ(both(0x2A, 13, 1, 0xCD).status, SS_ERR);
  EXPECT_EQ(both(0x2A, 15, 2, 0xEF).status, SS_COMP);
  const std::size_t before = cached.reads();
  EXPECT_EQ(both(0x28, 12).data, std::vector<std::uint8_t>(512, 0xAB));
  // A write the disk did not keep shows on the read after it.
  cached.disk.bytes[15 * 512] = alone.disk.bytes[15 * 512] = 0x00;
  read_range(13, 20);
  EXPECT_EQ(cached.reads(), before + 4);  // 12, 13, 15 and 16, one command each
  for (const auto& request : cached.inner->requests) {
    const std::uint8_t* cdb = request.block.CDBByte;
    if (cdb[0] == 0x28 && cdb[5] >= 12 && cdb[5] <= 16) {
      EXPECT_EQ(cdb[8], 1);
    }
  }
  ASSERT_EQ(cached.inner->requests.size(), alone.inner->requests.size() - 13u);
}

TEST_P(ReadAhead, RefusalsAndOtherCommandsPassThroughUnposted) {
  both(0x25, 0);
  cached.inner->completion = alone.inner->completion = RecordingBackend::Completion::Refuse;
  EXPECT_EQ(both(0x28, 10).returned, SS_INVALID_SRB);
  EXPECT_EQ(both(0x2A, 10).returned, SS_INVALID_SRB);
  EXPECT_EQ(both(0x12, 0).returned, SS_INVALID_SRB);
  cached.inner->completion = alone.inner->completion = GetParam();
  read_range(10, 12);
  // The refused window was given up: its sectors read one by one.
  EXPECT_EQ(cached.reads(), 2u + 2u);
}

// The posting routine sends the next read from inside the posting, as a
// requester may: the cache holds no lock while it posts.
platform::AspiBackend* chained_backend = nullptr;
SRB_ExecSCSICmd chained{};
std::uint8_t chained_data[512];
int chained_left = 0;
void send_next(SRB_ExecSCSICmd* srb) {
  ++posts;
  if (--chained_left <= 0) return;
  ++srb->CDBByte[5];
  chained_backend->send(*srb);
}

TEST_P(ReadAhead, APostingRoutineMaySendTheNextRequest) {
  both(0x25, 0);
  chained = SRB_ExecSCSICmd{};
  chained.SRB_Cmd = SC_EXEC_SCSI_CMD;
  chained.SRB_Flags = SRB_DIR_IN | SRB_POSTING;
  chained.SRB_BufLen = 512;
  chained.SRB_BufPointer = chained_data;
  chained.SRB_CDBLen = 10;
  chained.SRB_PostProc = reinterpret_cast<void*>(&send_next);
  chained.CDBByte[0] = 0x28;
  chained.CDBByte[8] = 1;
  chained_backend = cached.top.get();
  chained_left = 20;
  const int before = posts;
  cached.top->send(chained);
  while (posts - before < 20) std::this_thread::yield();
  EXPECT_EQ(cached.reads(), 1u);
  EXPECT_EQ(cached.request(0x28, 19).data, alone.read(19).data);
}

INSTANTIATE_TEST_SUITE_P(Completion, ReadAhead,
                         ::testing::Values(RecordingBackend::Completion::Inline,
                                           RecordingBackend::Completion::Thread));

}  // namespace
