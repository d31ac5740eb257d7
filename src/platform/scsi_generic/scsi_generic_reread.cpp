#include "platform/scsi_generic/scsi_generic_reread.h"

#include <cstring>

#include "platform/common/srb_commands.h"

namespace platform::sg {

bool writes_partition_area(const SRB_ExecSCSICmd& srb) {
  return transfer_blocks(srb) > 0 && cdb10_lba(srb.CDBByte) < PARTITION_AREA_SECTORS;
}

void reread_partition_tables(SgDeviceTable& table, SgDeviceIo& io,
                             const std::function<void(const std::string&)>& tell) {
  for (SgDevice& device : table.devices) {
    if (!device.partition_area_written) continue;
    device.partition_area_written = false;
    if (device.gone) continue;
    for (const BlockClaim& claim : device.claims) {
      const int error = io.reread_partitions(claim.fd);
      // After a failed write the volume is not repaired: no advice to look at it.
      if (error == 0 || !tell || device.write_failed) continue;
      tell("tessaly: " + claim.path + " (" + device.node + "): the kernel did not read the partition table " +
           "again (" + std::strerror(-error) + "): replug the player, or run blockdev --rereadpt " +
           claim.path + " as root, to see the repaired volume");
    }
  }
}

}  // namespace platform::sg
