// The table of SCSI generic devices the backend serves: every sg node that
// could be opened and sits at channel 0, LUN 0 and a target id from 0 to 7,
// with the ASPI host adapter number of its Linux SCSI host (hosts that have
// such devices are numbered 0, 1, ... in the order of their host numbers).
#pragma once

#include <string>
#include <vector>

#include "platform/scsi_generic/scsi_generic_types.h"

namespace platform::sg {

// Whether writing to a device has been found safe; settled before its first
// WRITE(10) and kept for the rest of the run.
enum class WriteCheck { not_done, safe, refused };

struct SgDevice {
  std::string node;  // "sg1"
  ScsiAddress address;
  int fd = -1;
  bool writable = false;
  int adapter = -1;
  WriteCheck write_check = WriteCheck::not_done;
  bool told_read_only = false;
  // The exclusive claims on the disk's block devices that keep it from
  // being mounted while it is written; held until the device is closed.
  std::vector<BlockClaim> claims;
  bool written = false;  // a WRITE(10) succeeded: flushed before closing
  bool write_failed = false;  // a WRITE(10) failed: the disk is not as the run meant it
  // A request met the device gone (unplugged, or taken off its bus): nothing
  // more reaches it, not even the flush at the end.
  bool gone = false;
  // The disk's block device node, opened for READ(10)s on their first use
  // (-1 when there is none or it cannot serve them).
  int read_fd = -1;
  bool read_fd_tried = false;
  // A WRITE(10) went to the boot area (sectors 0-94, the partition table
  // among them): the kernel reads the partition table again before the
  // claims are closed.
  bool partition_area_written = false;
};

struct SgDeviceTable {
  bool driver_present = false;
  int adapter_count = 0;
  std::vector<SgDevice> devices;
};

// Opens and places every sg node. Tells the user, in one line, about nodes
// that exist but may not be opened, and in one line each about other nodes
// that cannot be used.
SgDeviceTable scan_devices(const SgEnvironment& env);

// Numbers the hosts of the devices 0, 1, ... in host-number order and stores
// each device's adapter; returns the number of adapters.
int assign_adapters(std::vector<SgDevice>& devices);

// The device at an ASPI adapter and target id (LUN 0), or nullptr.
SgDevice* find_device(SgDeviceTable& table, int adapter, int target);

void close_devices(SgDeviceTable& table, SgDeviceIo& io);

// The name of the group `gid` in a group file text, or the number itself.
std::string group_name(const std::string& group_file_text, unsigned gid);

// "run as root, or join the group 'disk' that owns it" for a device node
// ("them" for several); when the node cannot be looked at, the group is
// the one that owns `devices` ("the SCSI generic devices").
std::string permission_advice(const std::string& path, bool several, const std::string& devices);

}  // namespace platform::sg
