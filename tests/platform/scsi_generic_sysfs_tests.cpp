// Reading sysfs and the mount table for the SG_IO backend, against fake
// trees and mount tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scsi_generic/scsi_generic_devices.h"
#include "platform/scsi_generic/scsi_generic_sysfs.h"
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
  tree.add_holder("sg1", "sdb/sdb2");
  const auto nodes = block_nodes(tree.class_dir(), "sg1");
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].name, "sdb");
  EXPECT_EQ(nodes[0].number, "8:16");
  EXPECT_FALSE(nodes[0].held);
  EXPECT_EQ(nodes[1].name, "sdb1");
  EXPECT_EQ(nodes[1].number, "8:17");
  EXPECT_EQ(nodes[2].name, "sdb2");
  EXPECT_TRUE(nodes[2].held);
  // No block driver bound: nothing to look at.
  tree.add_node("sg2", "3:0:0:0");
  EXPECT_TRUE(block_nodes(tree.class_dir(), "sg2").empty());
}

const char* const MOUNTINFO =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
    "40 22 8:17 / /media/my\\040player rw,relatime shared:30 - vfat /dev/sdb1 rw\n"
    "41 22 8:160 / /srv rw - ext4 /dev/sdk rw\n";

TEST(ScsiGenericSysfs, MountPointsAreFoundByDeviceNumberOnly) {
  EXPECT_EQ(mount_point_of(MOUNTINFO, "8:17").value_or("-"), "/media/my player");
  EXPECT_EQ(mount_point_of(MOUNTINFO, "8:1").value_or("-"), "/");
  // Numbers that merely begin alike are other devices.
  EXPECT_FALSE(mount_point_of(MOUNTINFO, "8:16").has_value());
  EXPECT_FALSE(mount_point_of(MOUNTINFO, "8:170").has_value());
  EXPECT_FALSE(mount_point_of("", "8:17").has_value());
  EXPECT_FALSE(mount_point_of("garbage line\n", "8:17").has_value());
}

TEST(ScsiGenericSysfs, WritingIsUnsafeWhileAnyPartOfTheDiskIsMountedOrHeld) {
  sgtest::FakeTree tree;
  tree.add_node("sg1", "2:0:0:0");
  tree.add_disk("sg1", "sdb", "8:16");
  tree.add_partition("sg1", "sdb", "sdb1", "8:17");
  tree.add_node("sg2", "3:0:0:0");
  tree.add_disk("sg2", "sdc", "8:32");
  tree.add_partition("sg2", "sdc", "sdc1", "8:33");
  tree.add_node("sg3", "4:0:0:0");
  tree.add_disk("sg3", "sdd", "8:48");
  tree.add_holder("sg3", "sdd");
  tree.add_node("sg4", "5:0:0:0");  // no block driver bound

  const auto mounted = write_hazard(tree.class_dir(), "sg1", MOUNTINFO);
  ASSERT_TRUE(mounted.has_value());
  EXPECT_NE(mounted->find("/dev/sdb1"), std::string::npos);
  EXPECT_NE(mounted->find("/media/my player"), std::string::npos);
  EXPECT_NE(mounted->find("unmount it first"), std::string::npos);

  EXPECT_FALSE(write_hazard(tree.class_dir(), "sg2", MOUNTINFO).has_value());
  // The whole disk mounted, without a partition table.
  EXPECT_TRUE(write_hazard(tree.class_dir(), "sg2", "50 22 8:32 / /mnt rw - vfat /dev/sdc rw\n").has_value());

  const auto held = write_hazard(tree.class_dir(), "sg3", MOUNTINFO);
  ASSERT_TRUE(held.has_value());
  EXPECT_NE(held->find("/dev/sdd"), std::string::npos);
  EXPECT_FALSE(write_hazard(tree.class_dir(), "sg4", MOUNTINFO).has_value());
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
