#include "platform/common/srb_outcome.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/common/scsi_commands.h"

namespace platform {
namespace {

// Fixed-format sense data (response code 0x70, current error).
constexpr std::size_t SENSE_FIXED_LENGTH = 18;
constexpr std::size_t SENSE_RESPONSE_CODE = 0;
constexpr std::size_t SENSE_KEY = 2;
constexpr std::size_t SENSE_INFORMATION = 3;
constexpr std::size_t SENSE_ADDITIONAL_LENGTH = 7;
constexpr std::size_t SENSE_ASC = 12;
constexpr std::size_t SENSE_ASCQ = 13;
constexpr std::uint8_t SENSE_CURRENT_FIXED = 0x70;
constexpr std::uint8_t SENSE_INFORMATION_VALID = 0x80;

void fill_sense(SRB_ExecSCSICmd& srb, Sense sense, std::uint64_t sector) {
  std::array<std::uint8_t, SENSE_FIXED_LENGTH> data{};
  data[SENSE_RESPONSE_CODE] = SENSE_CURRENT_FIXED;
  if (sector <= UINT32_MAX) {
    data[SENSE_RESPONSE_CODE] |= SENSE_INFORMATION_VALID;
    put_be32(&data[SENSE_INFORMATION], static_cast<std::uint32_t>(sector));
  }
  data[SENSE_KEY] = sense.key;
  data[SENSE_ADDITIONAL_LENGTH] = SENSE_FIXED_LENGTH - 8;
  data[SENSE_ASC] = sense.asc;
  data[SENSE_ASCQ] = sense.ascq;
  // The block's sense area is all we may write, whatever SRB_SenseLen asks.
  const std::size_t length = std::min<std::size_t>({srb.SRB_SenseLen, sizeof srb.SenseArea, data.size()});
  std::memcpy(srb.SenseArea, data.data(), length);
}

}  // namespace

void set_good(SRB_ExecSCSICmd& srb) {
  srb.SRB_HaStat = HASTAT_OK;
  srb.SRB_TargStat = SCSI_STATUS_GOOD;
  srb.SRB_Status = SS_COMP;
}

void set_check_condition(SRB_ExecSCSICmd& srb, Sense sense, std::uint64_t sector) {
  fill_sense(srb, sense, sector);
  srb.SRB_HaStat = HASTAT_OK;
  srb.SRB_TargStat = SCSI_STATUS_CHECK_CONDITION;
  srb.SRB_Status = SS_ERR;
}

void set_adapter_outcome(SRB_ExecSCSICmd& srb, std::uint8_t status, std::uint8_t adapter_status) {
  srb.SRB_HaStat = adapter_status;
  srb.SRB_TargStat = SCSI_STATUS_GOOD;
  srb.SRB_Status = status;
}

void post_completion(SRB_ExecSCSICmd& srb) {
  // SRB_EVENT_NOTIFY puts an event handle where the routine would be; only
  // SRB_POSTING makes it a routine to call.
  if ((srb.SRB_Flags & SRB_POSTING) == 0 || srb.SRB_PostProc == nullptr) return;
  reinterpret_cast<ASPI_POSTPROC>(srb.SRB_PostProc)(&srb);
}

}  // namespace platform
