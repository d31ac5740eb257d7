// What sysfs and the kernel's tables tell about SCSI generic devices: which
// sg nodes exist, where they sit, which block devices and partitions belong
// to them, and, to name what holds one of those, where it is mounted, whether
// it is swap, and which loop devices it backs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scsi_generic/scsi_generic_types.h"

namespace platform::sg {

// The sg node names ("sg0", "sg1", ...) under the class directory, in the
// order of their numbers; nothing at all when the directory does not exist,
// which means the kernel has no SCSI generic driver.
std::optional<std::vector<std::string>> list_sg_nodes(const std::string& class_dir);

// "H:C:T:L" as the kernel names a SCSI device.
std::optional<ScsiAddress> parse_hctl(std::string_view text);

// The address sysfs gives for a node (the name its device link points to).
std::optional<ScsiAddress> sysfs_address(const std::string& class_dir, const std::string& node);

// A block device or partition of an sg node: its name ("sdb", "sdb1"), its
// "major:minor" number, whether it is a partition, and the devices of other
// drivers (device mapper, software RAID: "dm-0", "md127") that hold it.
struct BlockNode {
  std::string name;
  std::string number;
  bool partition = false;
  std::vector<std::string> holders;
};

// The disk behind an sg node and its partitions; empty when no block driver
// is bound to it.
std::vector<BlockNode> block_nodes(const std::string& class_dir, const std::string& node);

// The mount point of the first mount in a mountinfo text whose device is
// `number` ("major:minor") or, when `source` is given, whose mount source is
// `source` (a FUSE file system shows the block device only there).
std::optional<std::string> mount_point_of(std::string_view mountinfo, const std::string& number,
                                          const std::string& source = {});

// The files and devices a /proc/swaps text lists.
std::vector<std::string> swap_files(std::string_view swaps);

// A bound loop device under the block directory (/sys/block): its name
// ("loop0"), "major:minor" and the path of its backing file or device.
struct LoopDevice {
  std::string name;
  std::string number;
  std::string backing;
};
std::vector<LoopDevice> loop_devices(const std::string& block_dir);

// max_sectors_kb of the block queue of the disk behind an sg node: the
// largest transfer the kernel passes to the device in one command, in KiB;
// nothing when no block driver is bound to the node.
std::optional<unsigned> queue_max_sectors_kb(const std::string& class_dir, const std::string& node);

// Whether the SCSI device of an sg node is on its way out: its state in
// sysfs says it is being removed (cancel, deleted: the USB device was
// unplugged or de-authorised) or offline. While the kernel removes a device
// it turns commands back with DID_ERROR before the sg node itself goes.
bool device_leaving(const std::string& class_dir, const std::string& node);

std::string read_text_file(const std::string& path);

}  // namespace platform::sg
