// Reading sysfs and the kernel's tables for the SG_IO backend, and the
// write guard's decision, against fake trees, tables and a scripted kernel.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/scsi_generic/scsi_generic_devices.h"
#include "platform/scsi_generic/scsi_generic_sysfs.h"
#include "platform/scsi_generic/scsi_generic_write_guard.h"
#include "platform/scsi_generic_fake_tree.h"

namespace {

using namespace platform::sg;

TEST(ScsiGenericSysfs, NodesAreListedInNumberOrderAndOnlyWhenTheDriverIsThere) {
  sgtest::FakeTree tree;
  for (const char* node : {"sg10", "sg2", "sg0", "sg1"}) tree.add_node(node, "0:0:0:0");
  for (const char* other : {"sgx", "sg", "sg1a", "bsg0"}) tree.add_node(other, "0:0:0:0");
  const auto nodes = list_sg_nodes(tree.class_dir());
  ASSERT_TRUE(nodes.has_value());
  EXPECT_EQ(*nodes, (std::vector<std::string>{"sg0", "sg1", "sg2", "sg10"}));

  EXPECT_FALSE(list_sg_nodes(tree.class_dir() + "-missing").has_value());
  sgtest::FakeTree empty;
  ASSERT_TRUE(list_sg_nodes(empty.class_dir()).has_value());
  EXPECT_TRUE(list_sg_nodes(empty.class_dir())->empty());
}

TEST(ScsiGenericSysfs, AddressesAreReadFromHctlNames) {
  const auto a = parse_hctl("12:0:7:0");
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->host, 12);
  EXPECT_EQ(a->channel, 0);
  EXPECT_EQ(a->id, 7);
  EXPECT_EQ(a->lun, 0);
  for (const char* bad : {"", "1:0:0", "1:0:0:0:0", "1:0:x:0", "1::0:0", "-1:0:0:0", "1:0:0:0 ", "host1"}) {
    EXPECT_FALSE(parse_hctl(bad).has_value()) << bad;
  }
  sgtest::FakeTree tree;
  tree.add_node("sg3", "4:0:2:1");
  const auto b = sysfs_address(tree.class_dir(), "sg3");
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->host, 4);
  EXPECT_EQ(b->id, 2);
  EXPECT_EQ(b->lun, 1);
  EXPECT_FALSE(sysfs_address(tree.class_dir(), "sg4").has_value());
}

TEST(ScsiGenericSysfs, BlockNodesAreTheDiskThenItsPartitions) {
  sgtest::FakeTree tree;
  tree.add_node("sg1", "2:0:0:0");
  tree.add_disk("sg1", "sdb", "8:16");
  tree.add_partition("sg1", "sdb", "sdb2", "8:18");
  tree.add_partition("sg1", "sdb", "sdb1", "8:17");
  tree.add_holder("sg1", "sdb/sdb2", "md127");
  tree.add_holder("sg1", "sdb/sdb2", "dm-3");
  const auto nodes = block_nodes(tree.class_dir(), "sg1");
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].name, "sdb");
  EXPECT_EQ(nodes[0].number, "8:16");
  EXPECT_FALSE(nodes[0].partition);
  EXPECT_TRUE(nodes[0].holders.empty());
  EXPECT_EQ(nodes[1].name, "sdb1");
  EXPECT_EQ(nodes[1].number, "8:17");
  EXPECT_TRUE(nodes[1].partition);
  EXPECT_EQ(nodes[2].name, "sdb2");
  EXPECT_EQ(nodes[2].holders, (std::vector<std::string>{"dm-3", "md127"}));
  // No block driver bound: nothing to look at.
  tree.add_node("sg2", "3:0:0:0");
  EXPECT_TRUE(block_nodes(tree.class_dir(), "sg2").empty());
}

const char* const MOUNTINFO =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
    "40 22 8:17 / /media/my\\040player rw,relatime shared:30 - vfat /dev/sdb1 rw\n"
    "41 22 8:160 / /srv rw - ext4 /dev/sdk rw\n"
    "42 22 0:52 / /media/ntfs rw,nosuid shared:31 master:2 - fuseblk /dev/sdc1 rw\n";

TEST(ScsiGenericSysfs, MountPointsAreFoundByDeviceNumberOrSource) {
  EXPECT_EQ(mount_point_of(MOUNTINFO, "8:17").value_or("-"), "/media/my player");
  EXPECT_EQ(mount_point_of(MOUNTINFO, "8:1").value_or("-"), "/");
  // Numbers that merely begin alike are other devices.
  EXPECT_FALSE(mount_point_of(MOUNTINFO, "8:16").has_value());
  EXPECT_FALSE(mount_point_of(MOUNTINFO, "8:170").has_value());
  EXPECT_FALSE(mount_point_of("", "8:17").has_value());
  EXPECT_FALSE(mount_point_of("garbage line\n", "8:17").has_value());
  // A FUSE file system shows its block device only as the mount source.
  EXPECT_FALSE(mount_point_of(MOUNTINFO, "8:33").has_value());
  EXPECT_EQ(mount_point_of(MOUNTINFO, "8:33", "/dev/sdc1").value_or("-"), "/media/ntfs");
  EXPECT_FALSE(mount_point_of(MOUNTINFO, "8:33", "/dev/sdc").has_value());
}

TEST(ScsiGenericSysfs, SwapFilesAndBoundLoopDevicesAreListed) {
  EXPECT_EQ(swap_files("Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
                       "/dev/sdb1                               partition\t99964\t\t0\t\t-2\n"
                       "/swap\\040file                          file\t\t1024\t\t0\t\t-3\n"),
            (std::vector<std::string>{"/dev/sdb1", "/swap file"}));
  EXPECT_TRUE(swap_files("").empty());
  sgtest::FakeTree tree;
  tree.add_loop("loop1", "7:1", "/dev/sdb1");
  tree.add_loop("loop0", "7:0", "/home/me/disk.img");
  tree.add_loop("loop2", "7:2", "");  // not bound
  const auto loops = loop_devices(tree.block_dir());
  ASSERT_EQ(loops.size(), 2u);
  EXPECT_EQ(loops[0].name, "loop0");
  EXPECT_EQ(loops[0].backing, "/home/me/disk.img");
  EXPECT_EQ(loops[1].name, "loop1");
  EXPECT_EQ(loops[1].number, "7:1");
  EXPECT_EQ(loops[1].backing, "/dev/sdb1");
}

// The write guard against a scripted kernel: the claim of the whole disk
// decides; the mount table, the swap list and the holders only name what
// holds it; a loop device over the disk refuses writes although the kernel
// grants the claim.
TEST(ScsiGenericSysfs, TheWriteGuardClaimsTheDiskAndNamesWhatHoldsIt) {
  struct Row {
    const char* what;
    int claim_error;           // errno the claim of /fake/dev/sdb meets
    const char* mountinfo;     // nullptr: unreadable
    const char* swaps;
    const char* holder;        // below "block": "sdb/sdb1"
    const char* loop_backing;  // of loop0 (7:0)
    const char* refusal;       // nullptr: may be written
  };
  const char* const SWAPS_HEAD = "Filename\tType\tSize\tUsed\tPriority\n";
  const char* const OTHERS = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
  const Row rows[] = {
      // The kernel's answer decides, whatever the mount table says.
      {"claimed", 0, MOUNTINFO, "", nullptr, nullptr, nullptr},
      {"claimed, mount table unreadable", 0, nullptr, nullptr, nullptr, nullptr, nullptr},
      {"claimed, a loop over another disk", 0, OTHERS, "", nullptr, "/fake/dev/sdc1", nullptr},
      {"mounted", EBUSY, MOUNTINFO, "", nullptr, nullptr,
       "/fake/dev/sdb1 (sg1) is mounted on /media/my player: unmount it first; nothing is written to this disk"},
      {"mounted through FUSE", EBUSY, "42 22 0:52 / /media/ntfs rw - fuseblk /fake/dev/sdb1 rw\n", "",
       nullptr, nullptr, "/fake/dev/sdb1 (sg1) is mounted on /media/ntfs: unmount it first"},
      {"swap", EBUSY, "", "/fake/dev/sdb1 partition 99964 0 -2\n", nullptr, nullptr,
       "/fake/dev/sdb1 (sg1) is in use as swap: turn it off first (swapoff /fake/dev/sdb1); nothing"},
      {"swap by another name", EBUSY, "", "/fake/dev/disk/by-label/PLAYER partition 99964 0 -2\n", nullptr,
       nullptr, "/fake/dev/sdb1 (sg1) is in use as swap: turn it off first (swapoff /fake/dev/disk/by-label"},
      {"device mapper", EBUSY, OTHERS, "", "sdb/sdb1", nullptr,
       "/fake/dev/sdb1 (sg1) is held by dm-0 (device mapper or RAID): release it first; nothing"},
      {"busy, nothing to name", EBUSY, OTHERS, "", nullptr, nullptr,
       "/fake/dev/sdb (sg1) is in use (mounted, perhaps in another mount namespace, or opened "
       "exclusively by another program): release it first; nothing is written to this disk"},
      {"busy, mount table unreadable", EBUSY, nullptr, nullptr, nullptr, nullptr,
       "/fake/dev/sdb (sg1) is in use (mounted, perhaps"},
      {"no permission", EACCES, OTHERS, "", nullptr, nullptr,
       "no permission to claim /fake/dev/sdb (sg1) before writing: run as root, or join the group that "
       "owns the disk's block devices; nothing is written to this disk"},
      {"another failure", EIO, OTHERS, "", nullptr, nullptr,
       "cannot claim /fake/dev/sdb (sg1) before writing: Input/output error; nothing"},
      {"a loop over the partition", 0, OTHERS, "", nullptr, "/fake/dev/sdb1",
       "/fake/dev/sdb1 (sg1) is attached to /fake/dev/loop0: detach it first (losetup -d "
       "/fake/dev/loop0); nothing is written to this disk"},
      {"a mounted loop over the disk by another name",
       0, "60 22 7:0 / /mnt ro - vfat /fake/dev/loop0 ro\n", "", nullptr, "/fake/dev/disk/by-id/usb-PLAYER",
       "/fake/dev/sdb (sg1) is attached to /fake/dev/loop0, mounted on /mnt: unmount it and detach it first"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    sgtest::FakeTree tree;
    tree.add_node("sg1", "2:0:0:0");
    tree.add_disk("sg1", "sdb", "8:16");
    tree.add_partition("sg1", "sdb", "sdb1", "8:17");
    if (row.mountinfo) tree.write_mountinfo(row.mountinfo);
    if (row.swaps) tree.write_swaps(std::string(SWAPS_HEAD) + row.swaps);
    if (row.holder) tree.add_holder("sg1", row.holder);
    if (row.loop_backing) tree.add_loop("loop0", "7:0", row.loop_backing);
    auto kernel = std::make_shared<sgtest::ScriptedKernel>();
    kernel->block_devices = {{"/fake/dev/sdb", "8:16"}, {"/fake/dev/sdb1", "8:17"},
                             {"/fake/dev/sdc1", "8:33"}, {"/fake/dev/disk/by-label/PLAYER", "8:17"},
                             {"/fake/dev/disk/by-id/usb-PLAYER", "8:16"}};
    if (row.claim_error) kernel->claim_errors["/fake/dev/sdb"] = row.claim_error;
    SgEnvironment env;
    env.class_dir = tree.class_dir();
    env.block_dir = tree.block_dir();
    env.dev_dir = "/fake/dev";
    env.mountinfo_path = tree.mountinfo_path();
    env.swaps_path = tree.swaps_path();
    env.io = kernel;

    const WriteGuard guard = guard_writes(env, "sg1");
    // The whole disk alone is claimed: its claim covers the partitions.
    EXPECT_EQ(kernel->claimed, (std::vector<std::string>{"/fake/dev/sdb"}));
    if (row.refusal) {
      ASSERT_TRUE(guard.refusal.has_value());
      EXPECT_EQ(guard.refusal->rfind(row.refusal, 0), 0u) << *guard.refusal;
      EXPECT_TRUE(guard.claims.empty());
      EXPECT_TRUE(kernel->open_fds.empty());
    } else {
      EXPECT_FALSE(guard.refusal.has_value()) << *guard.refusal;
      ASSERT_EQ(guard.claims.size(), 1u);
      EXPECT_EQ(kernel->path_of(guard.claims[0].fd), "/fake/dev/sdb");
    }
  }
  // A disk without a block device cannot be mounted: written without a claim.
  sgtest::FakeTree tree;
  tree.add_node("sg4", "5:0:0:0");
  SgEnvironment env;
  env.class_dir = tree.class_dir();
  env.io = std::make_shared<sgtest::ScriptedKernel>();
  const WriteGuard bare = guard_writes(env, "sg4");
  EXPECT_FALSE(bare.refusal.has_value());
  EXPECT_TRUE(bare.claims.empty());
}

TEST(ScsiGenericSysfs, GroupNamesComeFromTheGroupFile) {
  const std::string groups = "root:x:0:\ndisk:x:6:alice\ncdrom:x:24:\nbroken\n";
  EXPECT_EQ(group_name(groups, 6), "disk");
  EXPECT_EQ(group_name(groups, 0), "root");
  EXPECT_EQ(group_name(groups, 60), "60");
  EXPECT_EQ(group_name("", 6), "6");
}

TEST(ScsiGenericSysfs, AdaptersAreNumberedInHostOrder) {
  std::vector<SgDevice> devices(4);
  devices[0].address = {7, 0, 1, 0};
  devices[1].address = {2, 0, 0, 0};
  devices[2].address = {7, 0, 3, 0};
  devices[3].address = {4, 0, 0, 0};
  EXPECT_EQ(assign_adapters(devices), 3);
  EXPECT_EQ(devices[0].adapter, 2);
  EXPECT_EQ(devices[1].adapter, 0);
  EXPECT_EQ(devices[2].adapter, 2);
  EXPECT_EQ(devices[3].adapter, 1);
  std::vector<SgDevice> none;
  EXPECT_EQ(assign_adapters(none), 0);
}

}  // namespace
