// The partitions the kernel shows after the boot area was rewritten. Writes
// through SG_IO pass beside the disk's block device: the kernel keeps the
// partitions it found when the disk appeared until it is asked to read the
// partition table again, so a rebuilt MBR would show its volume (/dev/sdb1)
// only after the player is plugged in anew. Reading the table again also
// makes every partition appear anew, and udev then reads the volume's boot
// sector afresh (its serial number and label name the volume).
//
// That is asked at the end, after SYNCHRONIZE CACHE, once per disk whose
// boot area was written, and only through the exclusive claim of the whole
// disk, which is still held: nothing can mount a partition in between, and
// the kernel lets the claim's holder read the table again. Writes beyond the
// boot area (the FATs) change neither the table nor the boot sector, and
// the re-reading, which takes every partition away for a moment, is then not
// asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/scsi_generic/scsi_generic_devices.h"
#include "platform/wnaspi32.h"

namespace platform::sg {

// The boot area: the MBR and its copies, then, in the partitioned layout,
// the volume's boot sectors, up to the first FAT at 95. All of it counts:
// the kernel's partition readers look beyond sector 0 (a GUID partition
// table's header is in sector 1), and the volume's boot sector is at 63.
constexpr std::uint32_t BOOT_AREA_SECTORS = 95;

// Whether a WRITE(10) block covers a sector of the boot area.
bool writes_boot_area(const SRB_ExecSCSICmd& srb);

// BLKRRPART through the whole-disk claims of every device whose boot area was
// written; one line to `tell` for each disk whose table the kernel did not
// read again.
void reread_partition_tables(SgDeviceTable& table, SgDeviceIo& io,
                             const std::function<void(const std::string&)>& tell);

}  // namespace platform::sg
