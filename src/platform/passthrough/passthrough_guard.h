// Locking the volumes of a disk that another ASPI layer serves (a
// WNASPI32.DLL on Windows NT, whose file systems would otherwise stay
// mounted over the sectors it writes). The layer's adapter numbers are its
// own, so the disk is found among \\.\PhysicalDriveN by what it answers:
// its SCSI address (IOCTL_SCSI_GET_ADDRESS) at the layer's target id and
// LUN 0, or no address at all, and the INQUIRY model text the layer gave.
// Every disk that matches has its volumes locked (passthrough_volumes.h).
//
// Windows 98 SE and Me have neither the disks nor the locks: there, and on a
// system that shows no \\.\PhysicalDriveN at all, nothing is locked and the
// layer writes as it always did. On Windows NT a disk that cannot be found
// this way, or one of whose volumes cannot be locked, is not written.
#pragma once

#include <vector>

#include "platform/passthrough/passthrough_io.h"

namespace platform::pt {

struct LayerDiskGuard {
  std::vector<Handle> held;  // locked and dismounted, for the rest of the run
  bool writable = false;
};

LayerDiskGuard guard_disk_behind_layer(const PtEnvironment& env, int target_id, const char* model);

// Closes the held volumes: their drive letters come back.
void release_guard(Win32Io& io, LayerDiskGuard& guard);

}  // namespace platform::pt
