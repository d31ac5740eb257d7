// Keeping file systems out of the way before a disk is written: every
// lettered volume that lies on the disk is locked and dismounted, and its
// handle held until the process ends, so that Windows neither caches nor
// writes anything of it meanwhile. A volume that cannot be locked (a program
// has files open on it) makes the disk unwritable for this run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/passthrough/passthrough_io.h"

namespace platform::pt {

struct VolumeLocks {
  std::vector<Handle> held;          // locked and dismounted
  std::vector<std::string> refused;  // drive letters, "E:"
};

// Locks and dismounts the volumes on disk `disk_number`.
VolumeLocks lock_volumes_on_disk(Win32Io& io, std::uint32_t disk_number);

}  // namespace platform::pt
