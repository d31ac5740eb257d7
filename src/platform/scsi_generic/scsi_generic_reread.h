// The partitions the kernel shows after the partition table was rewritten. Writes
// through SG_IO pass beside the disk's block device: the kernel keeps the
// partitions it found when the disk appeared until it is asked to read the
// partition table again, so a rebuilt MBR would show its volume (/dev/sdb1)
// only after the player is plugged in anew.
//
// That is asked at the end, after SYNCHRONIZE CACHE, once per disk whose
// partition area was written, and only through the exclusive claim of the
// whole disk, which is still held: nothing can mount a partition in between,
// and the kernel lets the claim's holder read the table again. Writes from
// the player's volume on (its boot sectors, FSInfo, the FATs) change no
// table, and the re-reading, which takes every partition away for a moment
// and needs root, is then not asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/scsi_generic/scsi_generic_devices.h"
#include "platform/wnaspi32.h"

namespace platform::sg {

// The partition area: the sectors before the player's volume at 63, which
// hold the MBR and its copies and where the kernel's partition readers look
// beyond sector 0 (a GUID partition table's header is in sector 1).
constexpr std::uint32_t PARTITION_AREA_SECTORS = 63;

// Whether a WRITE(10) block covers a sector of the partition area.
bool writes_partition_area(const SRB_ExecSCSICmd& srb);

// BLKRRPART through the whole-disk claims of every device whose partition
// area was written and that is not gone; one line to `tell` for each disk
// whose table the kernel did not read again, unless a write to it failed.
void reread_partition_tables(SgDeviceTable& table, SgDeviceIo& io,
                             const std::function<void(const std::string&)>& tell);

}  // namespace platform::sg
