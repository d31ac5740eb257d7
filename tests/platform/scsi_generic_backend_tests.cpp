// The SG_IO backend over a scripted kernel and a fake sysfs tree: the support
// word, adapter and target routing, what travels to the device, posting, and
// the refusals (read-only device, disk in use, unknown commands).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/scsi_generic/scsi_generic_setup.h"
#include "platform/scsi_generic_fake_tree.h"

namespace {

using namespace platform::sg;

using sgtest::Executed;
using sgtest::ScriptedKernel;

int post_count = 0;
void count_post(SRB_ExecSCSICmd*) { ++post_count; }
// Frees the block as the request layer's posting routine does.
void free_post(SRB_ExecSCSICmd* srb) {
  ++post_count;
  std::free(srb);
}

class ScsiGenericBackend : public ::testing::Test {
 protected:
  sgtest::FakeTree tree;
  std::shared_ptr<ScriptedKernel> kernel = std::make_shared<ScriptedKernel>();
  std::vector<std::string> told;
  std::unique_ptr<platform::AspiBackend> backend;
  std::uint8_t buffer[1024] = {};

  void SetUp() override { post_count = 0; }

  void add(const std::string& node, ScsiAddress address, int rdwr_error = 0, int rdonly_error = 0) {
    tree.add_node(node, std::to_string(address.host) + ":" + std::to_string(address.channel) + ":" +
                            std::to_string(address.id) + ":" + std::to_string(address.lun));
    kernel->nodes["/fake/dev/" + node] = {address, rdwr_error, rdonly_error};
  }

  platform::AspiBackend& make(const std::string& class_dir = "") {
    SgEnvironment env;
    env.class_dir = class_dir.empty() ? tree.class_dir() : class_dir;
    env.dev_dir = "/fake/dev";
    env.block_dir = tree.block_dir();
    env.mountinfo_path = tree.mountinfo_path();
    env.swaps_path = tree.swaps_path();
    env.io = kernel;
    env.tell_user = [this](const std::string& line) { told.push_back(line); };
    backend = make_backend(std::move(env));
    return *backend;
  }

  SRB_ExecSCSICmd request(int ha, int target, std::uint8_t opcode, std::uint8_t flags, std::uint32_t length) {
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = static_cast<std::uint8_t>(ha);
    srb.SRB_Target = static_cast<std::uint8_t>(target);
    srb.SRB_Flags = flags;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = opcode == 0x12 ? 6 : 10;
    srb.SRB_PostProc = reinterpret_cast<void*>(&count_post);
    srb.CDBByte[0] = opcode;
    if (opcode == 0x12) srb.CDBByte[4] = 64;
    if (opcode == 0x28 || opcode == 0x2A) srb.CDBByte[8] = 1;
    return srb;
  }
  SRB_ExecSCSICmd inquiry(int ha, int target) { return request(ha, target, 0x12, 0x09, 64); }
  SRB_ExecSCSICmd read10(int ha, int target) { return request(ha, target, 0x28, 0x09, 512); }
  SRB_ExecSCSICmd write10(int ha, int target) { return request(ha, target, 0x2A, 0x11, 512); }

  // Sends, checks the one posting and the return value, and gives the status.
  std::uint8_t send(SRB_ExecSCSICmd srb) {
    const int before = post_count;
    EXPECT_EQ(backend->send(srb), SS_COMP);
    EXPECT_EQ(post_count, before + 1);
    last = srb;
    return srb.SRB_Status;
  }
  SRB_ExecSCSICmd last{};
};

TEST_F(ScsiGenericBackend, SupportWordTellsAbsentDriverFromNoDevices) {
  // No class directory at all: no SCSI generic driver, read as ASPI absent.
  EXPECT_EQ(make(tree.class_dir() + "-missing").support_info(), 0x0100u);
  // The driver without devices: no adapters, which is not "absent".
  EXPECT_EQ(make().support_info(), 0xE800u);
  add("sg0", {0, 0, 0, 0});
  add("sg1", {3, 0, 5, 0});
  EXPECT_EQ(make().support_info(), 0x0102u);
  EXPECT_TRUE(told.empty());
}

TEST_F(ScsiGenericBackend, HostsBecomeAdaptersInHostOrderAndTargetsKeepTheirIds) {
  add("sg0", {6, 0, 0, 0});
  add("sg1", {2, 0, 4, 0});
  add("sg2", {6, 0, 7, 0});
  add("sg3", {2, 1, 0, 0});  // channel 1: not addressable
  add("sg4", {9, 0, 0, 1});  // LUN 1 alone on its host: no adapter for it
  add("sg5", {9, 0, 8, 0});  // target id beyond 7
  auto& b = make();
  EXPECT_EQ(b.support_info() & 0xFF, 2u);

  EXPECT_EQ(send(inquiry(0, 4)), SS_COMP);
  EXPECT_EQ(kernel->path_of(kernel->executed.back().fd), "/fake/dev/sg1");
  EXPECT_EQ(send(inquiry(1, 0)), SS_COMP);
  EXPECT_EQ(kernel->path_of(kernel->executed.back().fd), "/fake/dev/sg0");
  EXPECT_EQ(send(inquiry(1, 7)), SS_COMP);
  EXPECT_EQ(kernel->path_of(kernel->executed.back().fd), "/fake/dev/sg2");
  const auto sent = kernel->executed.size();

  EXPECT_EQ(send(inquiry(0, 0)), SS_NO_DEVICE);  // host 2 has nothing at id 0 of channel 0
  EXPECT_EQ(send(inquiry(1, 1)), SS_NO_DEVICE);
  EXPECT_EQ(send(inquiry(2, 0)), SS_INVALID_HA);
  EXPECT_EQ(send(inquiry(255, 0)), SS_INVALID_HA);
  auto lun1 = inquiry(1, 0);
  lun1.SRB_Lun = 1;
  EXPECT_EQ(send(lun1), SS_NO_DEVICE);
  EXPECT_EQ(kernel->executed.size(), sent);
  // Devices that are not served are not kept open.
  EXPECT_EQ(kernel->open_fds.size(), 3u);
}

TEST_F(ScsiGenericBackend, RequestsTravelWithTheirCommandBufferAndDirection) {
  add("sg0", {0, 0, 0, 0});
  make();
  auto read = read10(0, 0);
  read.CDBByte[2] = 0x12;
  read.CDBByte[3] = 0x34;
  read.CDBByte[4] = 0x56;
  read.CDBByte[5] = 0x78;
  kernel->fill = 0xA5;
  EXPECT_EQ(send(read), SS_COMP);
  const Executed& r = kernel->executed.back();
  EXPECT_EQ(r.cdb, (std::vector<std::uint8_t>{0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 1, 0}));
  EXPECT_EQ(r.direction, Direction::from_device);
  EXPECT_EQ(r.length, 512u);
  EXPECT_GT(r.timeout_ms, 0u);
  EXPECT_EQ(buffer[0], 0xA5);
  EXPECT_EQ(buffer[511], 0xA5);

  EXPECT_EQ(send(write10(0, 0)), SS_COMP);
  EXPECT_EQ(kernel->executed.back().direction, Direction::to_device);
  EXPECT_EQ(kernel->executed.back().cdb[0], 0x2A);

  EXPECT_EQ(send(inquiry(0, 0)), SS_COMP);
  EXPECT_EQ(kernel->executed.back().cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 64, 0}));
  EXPECT_EQ(kernel->executed.back().length, 64u);
  EXPECT_EQ(send(request(0, 0, 0x25, 0x09, 64)), SS_COMP);
  EXPECT_EQ(kernel->executed.back().cdb.size(), 10u);
}

TEST_F(ScsiGenericBackend, DeviceFailuresComeBackWithStatusAndSense) {
  add("sg0", {0, 0, 0, 0});
  make();
  kernel->next_outcome.scsi_status = 0x02;
  kernel->next_outcome.driver_status = 0x08;
  kernel->next_sense = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0};
  EXPECT_EQ(send(read10(0, 0)), SS_ERR);
  EXPECT_EQ(last.SRB_TargStat, 0x02);
  EXPECT_EQ(last.SenseArea[2], 0x03);
  EXPECT_EQ(last.SenseArea[12], 0x11);

  kernel->next_sense.clear();
  kernel->next_outcome = {};
  kernel->next_outcome.os_error = ENODEV;
  EXPECT_EQ(send(read10(0, 0)), SS_NO_DEVICE);
  kernel->next_outcome = {};
  kernel->next_outcome.residual = 512;
  EXPECT_EQ(send(read10(0, 0)), SS_ERR);
}

TEST_F(ScsiGenericBackend, OnlyTheFourCommandsTravelAndOnlyInTheirOwnDirection) {
  add("sg0", {0, 0, 0, 0});
  make();
  // FORMAT UNIT, WRITE(6), SYNCHRONIZE CACHE, WRITE(16): never sent.
  for (std::uint8_t opcode : {0x04, 0x0A, 0x35, 0x8A}) {
    EXPECT_EQ(send(request(0, 0, opcode, 0x11, 512)), SS_ERR);
    EXPECT_EQ(last.SenseArea[2], 0x05);
    EXPECT_EQ(last.SenseArea[12], 0x20);
  }
  // WRITE(10) flagged as a read, READ(10) flagged as a write, both flags.
  EXPECT_EQ(send(request(0, 0, 0x2A, 0x09, 512)), SS_INVALID_SRB);
  EXPECT_EQ(send(request(0, 0, 0x28, 0x11, 512)), SS_INVALID_SRB);
  EXPECT_EQ(send(request(0, 0, 0x28, 0x19, 512)), SS_INVALID_SRB);
  // A buffer shorter than the sectors asked for.
  EXPECT_EQ(send(request(0, 0, 0x28, 0x09, 511)), SS_ERR);
  // A CDB length the command does not have, or none at all.
  auto odd = read10(0, 0);
  odd.SRB_CDBLen = 6;
  EXPECT_EQ(send(odd), SS_ERR);
  odd.SRB_CDBLen = 0;
  EXPECT_EQ(send(odd), SS_INVALID_SRB);
  auto no_buffer = read10(0, 0);
  no_buffer.SRB_BufPointer = nullptr;
  EXPECT_EQ(send(no_buffer), SS_INVALID_SRB);
  EXPECT_TRUE(kernel->executed.empty());
}

TEST_F(ScsiGenericBackend, OtherAspiCommandsAreRefusedWithoutPosting) {
  add("sg0", {0, 0, 0, 0});
  auto& b = make();
  auto srb = inquiry(0, 0);
  srb.SRB_Cmd = SC_HA_INQUIRY;
  EXPECT_EQ(b.send(srb), SS_INVALID_CMD);
  EXPECT_EQ(post_count, 0);
}

TEST_F(ScsiGenericBackend, ThePostingRoutineMayFreeTheBlock) {
  add("sg0", {0, 0, 0, 0});
  auto& b = make();
  for (std::uint8_t ha : {0, 1}) {
    auto* block = static_cast<SRB_ExecSCSICmd*>(std::calloc(1, 256));
    *block = inquiry(ha, 0);
    block->SRB_PostProc = reinterpret_cast<void*>(&free_post);
    EXPECT_EQ(b.send(*block), SS_COMP);  // the sanitizer catches any later touch
  }
  EXPECT_EQ(post_count, 2);
}

TEST_F(ScsiGenericBackend, DevicesWeMayNotOpenAreNamedInOneLine) {
  add("sg0", {0, 0, 0, 0}, EACCES, EACCES);
  add("sg1", {1, 0, 0, 0}, EPERM, EACCES);
  add("sg2", {2, 0, 0, 0});
  auto& b = make();
  EXPECT_EQ(b.support_info(), 0x0101u);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("/fake/dev/sg0, /fake/dev/sg1"), std::string::npos) << told[0];
  EXPECT_NE(told[0].find("run as root, or join the group"), std::string::npos) << told[0];
  EXPECT_EQ(send(inquiry(0, 0)), SS_COMP);
  EXPECT_EQ(kernel->path_of(kernel->executed.back().fd), "/fake/dev/sg2");
}

TEST_F(ScsiGenericBackend, AReadOnlyDeviceReadsButRefusesWrites) {
  add("sg0", {0, 0, 0, 0}, EACCES, 0);
  make();
  EXPECT_EQ(send(inquiry(0, 0)), SS_COMP);
  EXPECT_EQ(send(read10(0, 0)), SS_COMP);
  const auto sent = kernel->executed.size();
  EXPECT_EQ(send(write10(0, 0)), SS_ERR);
  EXPECT_EQ(last.SenseArea[2], 0x07);
  EXPECT_EQ(last.SenseArea[12], 0x27);
  EXPECT_EQ(send(write10(0, 0)), SS_ERR);
  EXPECT_EQ(kernel->executed.size(), sent);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("/fake/dev/sg0"), std::string::npos);
}

TEST_F(ScsiGenericBackend, NothingIsWrittenBehindAMountedFileSystem) {
  add("sg0", {0, 0, 0, 0});
  tree.add_disk("sg0", "sda", "8:0");
  tree.add_partition("sg0", "sda", "sda1", "8:1");
  kernel->block_devices = {{"/fake/dev/sda", "8:0"}, {"/fake/dev/sda1", "8:1"},
                           {"/fake/dev/sdb", "8:16"}, {"/fake/dev/sdb1", "8:17"}};
  add("sg1", {1, 0, 0, 0});
  tree.add_disk("sg1", "sdb", "8:16");
  tree.add_partition("sg1", "sdb", "sdb1", "8:17");
  tree.write_mountinfo("21 1 8:17 / /media/player ro,relatime - vfat /dev/sdb1 ro\n");
  kernel->claim_errors["/fake/dev/sdb"] = EBUSY;
  make();
  EXPECT_EQ(send(read10(1, 0)), SS_COMP);
  const auto sent = kernel->executed.size();
  EXPECT_EQ(send(write10(1, 0)), SS_ERR);
  EXPECT_EQ(last.SenseArea[2], 0x07);
  EXPECT_EQ(last.SenseArea[12], 0x27);
  EXPECT_EQ(send(write10(1, 0)), SS_ERR);
  EXPECT_EQ(kernel->executed.size(), sent);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("/fake/dev/sdb1 (sg1) is mounted on /media/player: unmount it first"),
            std::string::npos) << told[0];
  // The other disk is claimed before its first write, once, and takes its
  // writes; reads go on on both.
  EXPECT_EQ(send(write10(0, 0)), SS_COMP);
  EXPECT_EQ(send(write10(0, 0)), SS_COMP);
  EXPECT_EQ(send(read10(1, 0)), SS_COMP);
  EXPECT_EQ(kernel->executed.size(), sent + 3);
  EXPECT_EQ(kernel->claimed, (std::vector<std::string>{"/fake/dev/sdb", "/fake/dev/sda"}));
  // The claim is held while the backend lives: two sg nodes and /fake/dev/sda.
  EXPECT_EQ(kernel->open_fds.size(), 3u);
  backend.reset();
  EXPECT_TRUE(kernel->open_fds.empty());
}

TEST_F(ScsiGenericBackend, DevicesAreClosedWithTheBackend) {
  add("sg0", {0, 0, 0, 0});
  add("sg1", {1, 0, 0, 0});
  make().support_info();
  EXPECT_EQ(kernel->open_fds.size(), 2u);
  backend.reset();
  EXPECT_TRUE(kernel->open_fds.empty());
}

TEST_F(ScsiGenericBackend, TransferLimitIsTheBlockQueueOrElseTheReservedBufferOrElse64KiB) {
  add("sg0", {2, 0, 0, 0});
  add("sg1", {3, 0, 0, 0});
  tree.add_disk("sg0", "sda", "8:0", "120");
  kernel->reserved = 32768;
  make();
  EXPECT_EQ(backend->max_transfer_sectors(0, 0), 240u);  // sda's queue: 120 KiB
  EXPECT_EQ(backend->max_transfer_sectors(1, 0), 64u);   // no disk driver: 32 KiB reserved
  EXPECT_EQ(backend->max_transfer_sectors(1, 1), 0u);    // nobody there
  kernel->reserved = -ENOTTY;
  EXPECT_EQ(backend->max_transfer_sectors(1, 0), 128u);  // neither: 64 KiB
}

// SYNCHRONIZE CACHE(10) goes, when the backend goes at exit, to every device
// that took a write and to no other. Then the kernel reads the partition
// table again for each claimed disk whose partition area (sectors 0-62) was
// written, through the claim, which is closed only afterwards. Each failure
// is told in one line.
TEST_F(ScsiGenericBackend, WrittenDevicesFlushTheirCacheWhenTheBackendGoes) {
  add("sg0", {0, 0, 0, 0});
  add("sg1", {1, 0, 0, 0});
  add("sg2", {2, 0, 0, 0});
  add("sg3", {3, 0, 0, 0});
  tree.add_disk("sg0", "sda", "8:0");
  tree.add_disk("sg3", "sdd", "8:48");
  kernel->block_devices = {{"/fake/dev/sda", "8:0"}, {"/fake/dev/sdd", "8:48"}};
  make().support_info();
  auto last_partition_sector = write10(0, 0);
  last_partition_sector.CDBByte[5] = 62;
  EXPECT_EQ(send(last_partition_sector), SS_COMP);
  EXPECT_EQ(send(read10(1, 0)), SS_COMP);
  kernel->next_outcome.scsi_status = 0x02;  // CHECK CONDITION: the write fails
  EXPECT_EQ(send(write10(2, 0)), SS_ERR);
  kernel->next_outcome = {};
  auto volume_boot_sector = write10(3, 0);
  volume_boot_sector.CDBByte[5] = 63;
  EXPECT_EQ(send(volume_boot_sector), SS_COMP);
  const std::size_t sent = kernel->executed.size();
  std::vector<int> flushed_fds;
  for (const std::string node : {"/fake/dev/sg0", "/fake/dev/sg3"}) {
    for (const auto& [fd, path] : kernel->open_fds) {
      if (path == node) flushed_fds.push_back(fd);
    }
  }
  backend.reset();
  ASSERT_EQ(kernel->executed.size(), sent + 2);
  for (std::size_t i = 0; i < 2; ++i) {
    const Executed& flush = kernel->executed[sent + i];
    EXPECT_EQ(flush.cdb, (std::vector<std::uint8_t>{0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(flush.direction, Direction::none);
    EXPECT_EQ(flush.fd, flushed_fds[i]);
  }
  using Reread = std::pair<std::string, std::size_t>;
  EXPECT_EQ(kernel->rereads, (std::vector<Reread>{{"/fake/dev/sda", sent + 2}}));
  EXPECT_TRUE(kernel->open_fds.empty());
  EXPECT_TRUE(told.empty());

  // Both fail: the flush, then the re-reading of the table.
  make().support_info();
  EXPECT_EQ(send(write10(0, 0)), SS_COMP);
  kernel->next_outcome.os_error = EIO;
  kernel->reread_error = EBUSY;
  backend.reset();
  ASSERT_EQ(told.size(), 2u);
  EXPECT_NE(told[0].find("/fake/dev/sg0: SYNCHRONIZE CACHE failed"), std::string::npos) << told[0];
  EXPECT_EQ(told[1], "tessaly: /fake/dev/sda (sg0): the kernel did not read the partition table again "
                     "(Device or resource busy): replug the player, or run blockdev --rereadpt /fake/dev/sda "
                     "as root, to see the repaired volume");
}

}  // namespace
