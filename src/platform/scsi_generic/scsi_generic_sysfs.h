// What sysfs and the mount table tell about SCSI generic devices: which sg
// nodes exist, where they sit, which block devices and partitions belong to
// them, and whether any of those is mounted or held by another driver.
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

// A block device or partition of an sg node: its name ("sdb", "sdb1") and
// its "major:minor" number; `held` when another driver (device mapper,
// software RAID) holds it.
struct BlockNode {
  std::string name;
  std::string number;
  bool held = false;
};

// The disk behind an sg node and its partitions; empty when no block driver
// is bound to it.
std::vector<BlockNode> block_nodes(const std::string& class_dir, const std::string& node);

// The mount point of the first mount in a mountinfo text whose device is
// `number` ("major:minor").
std::optional<std::string> mount_point_of(std::string_view mountinfo, const std::string& number);

// Why writing to the disk behind `node` is unsafe right now, as a line for
// the user, or nothing when no part of it is mounted or held.
std::optional<std::string> write_hazard(const std::string& class_dir, const std::string& node,
                                        std::string_view mountinfo);

// max_sectors_kb of the block queue of the disk behind an sg node: the
// largest transfer the kernel passes to the device in one command, in KiB;
// nothing when no block driver is bound to the node.
std::optional<unsigned> queue_max_sectors_kb(const std::string& class_dir, const std::string& node);

std::string read_text_file(const std::string& path);

}  // namespace platform::sg
