#include "platform/passthrough/passthrough_outcome.h"

#include <algorithm>
#include <cstring>

#include "platform/common/srb_commands.h"
#include "platform/common/srb_outcome.h"

namespace platform::pt {

// What DeviceIoControl answers on the handle of a disk that went away
// between the scan and the request: a pulled USB cable removes the device
// (ERROR_DEVICE_REMOVED, ERROR_DEV_NOT_EXIST, ERROR_NO_SUCH_DEVICE, or
// ERROR_DEVICE_NOT_CONNECTED from the storage port), and a handle whose
// device object is gone no longer finds it.
bool device_gone(std::uint32_t error) {
  switch (error) {
    case WIN_ERROR_DEVICE_REMOVED:
    case WIN_ERROR_DEV_NOT_EXIST:
    case WIN_ERROR_NO_SUCH_DEVICE:
    case WIN_ERROR_DEVICE_NOT_CONNECTED:
    case WIN_ERROR_FILE_NOT_FOUND:
    case WIN_ERROR_INVALID_HANDLE:
      return true;
    default:
      return false;
  }
}

void store_outcome(SRB_ExecSCSICmd& srb, const PtResult& result, std::uint32_t expected, bool exact_length) {
  switch (result.os_error) {
    case 0:
      break;
    case WIN_ERROR_SEM_TIMEOUT:
    case WIN_ERROR_TIMEOUT:
      return set_adapter_outcome(srb, SS_ERR, HASTAT_COMMAND_TIMEOUT);
    // Windows refuses a write into a volume that is mounted, and any write
    // to a write-protected medium, before the device sees it. A read it
    // refuses is no sign of write protection: a plain error.
    case WIN_ERROR_ACCESS_DENIED:
      if (srb.CDBByte[0] != OP_WRITE_10) return set_adapter_outcome(srb, SS_ERR, HASTAT_OK);
      return set_check_condition(srb, SENSE_WRITE_PROTECTED);
    case WIN_ERROR_WRITE_PROTECT:
      return set_check_condition(srb, SENSE_WRITE_PROTECTED);
    case WIN_ERROR_NOT_READY:
      return set_check_condition(srb, SENSE_NOT_READY);
    default:
      return set_adapter_outcome(srb, device_gone(result.os_error) ? SS_NO_DEVICE : SS_ERR, HASTAT_OK);
  }
  if (result.scsi_status != SCSI_STATUS_GOOD) {
    srb.SRB_Status = SS_ERR;
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = result.scsi_status;
    const unsigned room = std::min<unsigned>(srb.SRB_SenseLen, sizeof srb.SenseArea);
    std::memcpy(srb.SenseArea, result.sense, std::min<unsigned>(room, result.sense_length));
    return;
  }
  if (exact_length && result.transferred != expected) return set_adapter_outcome(srb, SS_ERR, HASTAT_DO_DU);
  set_good(srb);
}

}  // namespace platform::pt
