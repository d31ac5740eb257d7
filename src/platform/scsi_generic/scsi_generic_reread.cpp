#include "platform/scsi_generic/scsi_generic_reread.h"

#include <cstring>

#include "platform/common/srb_commands.h"

namespace platform::sg {

bool writes_partition_area(const SRB_ExecSCSICmd& srb) {
  const std::uint32_t first = (std::uint32_t{srb.CDBByte[2]} << 24) | (std::uint32_t{srb.CDBByte[3]} << 16) |
                              (std::uint32_t{srb.CDBByte[4]} << 8) | srb.CDBByte[5];
  return transfer_blocks(srb) > 0 && first < PARTITION_AREA_SECTORS;
}

void reread_partition_tables(SgDeviceTable& table, SgDeviceIo& io,
                             const std::function<void(const std::string&)>& tell) {
  for (SgDevice& device : table.devices) {
    if (!device.partition_area_written) continue;
    device.partition_area_written = false;
    for (const BlockClaim& claim : device.claims) {
      const int error = io.reread_partitions(claim.fd);
      if (error == 0 || !tell) continue;
      tell("tessaly: " + claim.path + " (" + device.node + "): the kernel did not read the partition table " +
           "again (" + std::strerror(-error) + "): replug the player, or run blockdev --rereadpt " +
           claim.path + " as root, to see the repaired volume");
    }
  }
}

}  // namespace platform::sg
