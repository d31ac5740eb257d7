#include "platform/scsi_generic/scsi_generic_sync.h"

#include <cstring>

#include "platform/scsi_generic/scsi_generic_outcome.h"

namespace platform::sg {
namespace {

std::string failure_text(const SgOutcome& outcome, const std::uint8_t* sense) {
  if (outcome.os_error != 0) return std::strerror(outcome.os_error);
  if (outcome.scsi_status == SCSI_CHECK_CONDITION && outcome.sense_written >= 3) {
    const bool descriptor_format = (sense[0] & 0x7F) >= 0x72;
    const unsigned key = (descriptor_format ? sense[1] : sense[2]) & 0x0F;
    return "sense key " + std::to_string(key);
  }
  if (outcome.host_status != 0 || outcome.driver_status != 0) return "transport error";
  return "SCSI status " + std::to_string(outcome.scsi_status);
}

}  // namespace

void synchronize_written_devices(SgDeviceTable& table, SgDeviceIo& io, const std::string& dev_dir,
                                 const std::function<void(const std::string&)>& tell) {
  for (SgDevice& device : table.devices) {
    if (!device.written || device.fd < 0 || device.gone) continue;
    device.written = false;  // one attempt, whatever it gives
    const std::uint8_t cdb[CDB10_SIZE] = {OP_SYNCHRONIZE_CACHE_10};
    SgCommand command;
    command.cdb = cdb;
    command.cdb_length = sizeof cdb;
    command.timeout_ms = SYNCHRONIZE_TIMEOUT_MS;
    const SgOutcome outcome = io.execute(device.fd, command);
    const AspiOutcome ranked = rank_outcome(outcome, false);
    if (ranked.kind == OutcomeClass::good) continue;
    // A device gone is not news here: the run tells what that means.
    if (ranked.srb_status == SS_NO_DEVICE) device.gone = true;
    if (!tell || device.gone) continue;
    const std::string why = failure_text(outcome, command.sense);
    tell("tessaly: " + dev_dir + "/" + device.node +
         ": SYNCHRONIZE CACHE failed (" + why + "): the writes may not have reached the disk");
  }
}

}  // namespace platform::sg
