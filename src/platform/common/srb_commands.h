// The SCSI commands this utility sends, as a device backend sees them in a
// request block. A backend that reaches a real device lets exactly these
// through, so that no other command, and none that writes, can pass the
// safety checks before a write.
#pragma once

#include <cstdint>

#include "platform/common/scsi_commands.h"
#include "platform/wnaspi32.h"

namespace platform {

// The sector count of a READ(10) or WRITE(10).
inline std::uint32_t transfer_blocks(const SRB_ExecSCSICmd& srb) { return cdb10_blocks(srb.CDBByte); }

// One of the four commands the utility sends, with its own CDB length.
inline bool known_command(std::uint8_t opcode, std::uint8_t cdb_length) {
  switch (opcode) {
    case OP_INQUIRY:
      return cdb_length == CDB6_SIZE;
    case OP_READ_CAPACITY_10:
    case OP_READ_10:
    case OP_WRITE_10:
      return cdb_length == CDB10_SIZE;
    default:
      return false;
  }
}

// The block itself is whole: a CDB length that fits, not both directions at
// once, and a buffer wherever there is data.
inline bool block_is_sound(const SRB_ExecSCSICmd& srb) {
  if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > sizeof srb.CDBByte) return false;
  if ((srb.SRB_Flags & SRB_DIR_IN) && (srb.SRB_Flags & SRB_DIR_OUT)) return false;
  return srb.SRB_BufLen == 0 || srb.SRB_BufPointer != nullptr;
}

// The direction bits of the block do not contradict the command: no
// WRITE(10) goes out flagged as a read, and the other way round.
inline bool direction_agrees(const SRB_ExecSCSICmd& srb, bool writes) {
  return !(srb.SRB_Flags & (writes ? SRB_DIR_IN : SRB_DIR_OUT));
}

}  // namespace platform
