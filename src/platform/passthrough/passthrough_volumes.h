// Keeping file systems out of the way of a disk that is about to be read
// and may be written: every volume that lies on the disk is locked and
// dismounted, and its handle held until the process ends, so that Windows
// neither caches nor writes anything of it meanwhile. FSCTL_LOCK_VOLUME
// first writes the volume's cached data to the disk, so the locks come
// before the disk's first sector is read: what is read is what the disk
// holds. (Its drive letter is gone until tessaly ends, as during chkdsk.)
//
// Every volume of the machine is asked where it lies, floppies and volumes
// mounted in a folder included; one that cannot be asked counts as lying on
// the disk. A volume on the disk that cannot be locked (a program has files
// open on it) makes the disk unwritable for this run; the user is told which
// one and what to close.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/passthrough/passthrough_io.h"

namespace platform::pt {

struct VolumeLocks {
  std::vector<Handle> held;           // locked and dismounted
  std::vector<std::string> refusals;  // one line for the user per volume that stays mounted
};

// Where a volume lies, as far as Windows tells.
enum class Placement { elsewhere, on_disk, unknown };

// Asks an open volume (access 0 is enough) for its disk extents, falling
// back to its device number.
Placement place_volume(Win32Io& io, Handle volume, std::uint32_t disk_number);

// Locks and dismounts the volumes on disk `disk_number`, named `disk_path`
// in the lines for the user.
VolumeLocks lock_volumes_on_disk(Win32Io& io, std::uint32_t disk_number, const std::string& disk_path);

}  // namespace platform::pt
