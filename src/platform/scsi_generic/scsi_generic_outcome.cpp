#include "platform/scsi_generic/scsi_generic_outcome.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform::sg {
namespace {

// Linux host_status values (DID_*) and the driver_status bits.
constexpr std::uint16_t DID_OK = 0x00;
constexpr std::uint16_t DID_NO_CONNECT = 0x01;
constexpr std::uint16_t DID_TIME_OUT = 0x03;
constexpr std::uint16_t DID_BAD_TARGET = 0x04;
constexpr std::uint16_t DID_PARITY = 0x06;
constexpr std::uint16_t DID_RESET = 0x08;
constexpr std::uint16_t DRIVER_MASK = 0x0F;
constexpr std::uint16_t DRIVER_OK = 0x00;
constexpr std::uint16_t DRIVER_TIMEOUT = 0x06;
constexpr std::uint16_t DRIVER_SENSE = 0x08;

std::uint8_t adapter_status_for(std::uint16_t host_status, std::uint16_t driver_status) {
  switch (host_status) {
    case DID_OK:
      break;
    case DID_NO_CONNECT:
    case DID_BAD_TARGET:
      return HASTAT_SEL_TO;
    case DID_TIME_OUT:
      return HASTAT_COMMAND_TIMEOUT;
    case DID_PARITY:
      return HASTAT_PARITY_ERROR;
    case DID_RESET:
      return HASTAT_BUS_RESET;
    default:
      return HASTAT_PHASE_ERR;
  }
  if ((driver_status & DRIVER_MASK) == DRIVER_TIMEOUT) return HASTAT_COMMAND_TIMEOUT;
  return HASTAT_PHASE_ERR;
}

bool driver_failed(std::uint16_t driver_status) {
  const auto driver = driver_status & DRIVER_MASK;
  return driver != DRIVER_OK && driver != DRIVER_SENSE;
}

// A device that went away between the scan and the request: its sg node
// answers ENODEV (or ENXIO) once the kernel has begun to remove it.
bool device_gone(int os_error) { return os_error == ENODEV || os_error == ENXIO; }

// A command the kernel would not pass to a device it has taken off its bus
// (USB unplugged or de-authorised, the device deleted or set offline) comes
// back with DID_NO_CONNECT, or with DID_ERROR while the removal is under way
// (the device's state then says so). The backend sends only to devices its
// scan found, so such a device was there and is gone.
std::uint8_t transport_status(const SgOutcome& outcome) {
  return outcome.host_status == DID_NO_CONNECT || outcome.device_leaving ? SS_NO_DEVICE : SS_ERR;
}

}  // namespace

AspiOutcome rank_outcome(const SgOutcome& outcome, bool exact_length) {
  AspiOutcome result;
  result.target_status = outcome.scsi_status;
  if (outcome.os_error != 0) {
    result.kind = OutcomeClass::os_error;
    result.srb_status = device_gone(outcome.os_error) ? SS_NO_DEVICE : SS_ERR;
    result.target_status = SCSI_GOOD;
    return result;
  }
  if (outcome.host_status != DID_OK || driver_failed(outcome.driver_status)) {
    result.kind = OutcomeClass::transport_error;
    result.srb_status = transport_status(outcome);
    result.ha_status = adapter_status_for(outcome.host_status, outcome.driver_status);
    return result;
  }
  if (outcome.scsi_status == SCSI_CHECK_CONDITION) {
    result.kind = OutcomeClass::check_condition;
    result.srb_status = SS_ERR;
    return result;
  }
  if (outcome.scsi_status != SCSI_GOOD) {
    result.kind = OutcomeClass::other_status;
    result.srb_status = SS_ERR;
    return result;
  }
  if (exact_length && outcome.residual != 0) {
    result.kind = OutcomeClass::transport_error;
    result.srb_status = SS_ERR;
    result.ha_status = HASTAT_DO_DU;
    return result;
  }
  return result;
}

void store_outcome(SRB_ExecSCSICmd& srb, const AspiOutcome& outcome, const std::uint8_t* sense,
                   unsigned sense_length) {
  srb.SRB_Status = outcome.srb_status;
  srb.SRB_HaStat = outcome.ha_status;
  srb.SRB_TargStat = outcome.target_status;
  const unsigned room = std::min<unsigned>(srb.SRB_SenseLen, sizeof srb.SenseArea);
  const unsigned count = sense == nullptr ? 0 : std::min(room, sense_length);
  if (count > 0) std::memcpy(srb.SenseArea, sense, count);
}

void refuse(SRB_ExecSCSICmd& srb, std::uint8_t status, std::uint8_t key, std::uint8_t asc,
            std::uint8_t ascq) {
  // Fixed-format sense: response code 70h, key in byte 2, additional length
  // 10 in byte 7, ASC and ASCQ in bytes 12 and 13.
  std::uint8_t sense[18] = {};
  sense[0] = 0x70;
  sense[2] = key;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
  AspiOutcome outcome;
  outcome.kind = OutcomeClass::check_condition;
  outcome.srb_status = status;
  outcome.target_status = key == 0 ? SCSI_GOOD : SCSI_CHECK_CONDITION;
  store_outcome(srb, outcome, key == 0 ? nullptr : sense, sizeof sense);
}

}  // namespace platform::sg
