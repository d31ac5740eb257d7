// The one place where an SG_IO outcome becomes an ASPI status, and the
// fixed-format sense data the backend makes up when it refuses a request
// itself.
#pragma once

#include <cstdint>

#include "platform/scsi_generic/scsi_generic_types.h"
#include "platform/wnaspi32.h"

namespace platform::sg {

// ASPI host adapter status values (SRB_HaStat) that the backend reports.
constexpr std::uint8_t HASTAT_OK = 0x00;
constexpr std::uint8_t HASTAT_COMMAND_TIMEOUT = 0x0B;
constexpr std::uint8_t HASTAT_BUS_RESET = 0x0E;
constexpr std::uint8_t HASTAT_PARITY_ERROR = 0x0F;
constexpr std::uint8_t HASTAT_SEL_TO = 0x11;
constexpr std::uint8_t HASTAT_DO_DU = 0x12;
constexpr std::uint8_t HASTAT_PHASE_ERR = 0x14;

// SCSI status bytes (SAM).
constexpr std::uint8_t SCSI_GOOD = 0x00;
constexpr std::uint8_t SCSI_CHECK_CONDITION = 0x02;

// The outcome classes, worst first.
enum class OutcomeClass { os_error, transport_error, check_condition, other_status, good };

struct AspiOutcome {
  OutcomeClass kind = OutcomeClass::good;
  std::uint8_t srb_status = SS_COMP;
  std::uint8_t ha_status = HASTAT_OK;
  std::uint8_t target_status = SCSI_GOOD;
};

// Ranks one outcome. `exact_length` marks commands whose transfer must come
// back whole (READ(10), WRITE(10)): a residual count there is a transport
// error, while INQUIRY may well return less than it was allowed.
AspiOutcome rank_outcome(const SgOutcome& outcome, bool exact_length);

// Stores the outcome into the block: status, adapter and target status, and
// the sense bytes the device returned, as many as SRB_SenseLen asks for and
// the sense area holds.
void store_outcome(SRB_ExecSCSICmd& srb, const AspiOutcome& outcome, const std::uint8_t* sense,
                   unsigned sense_length);

// Completes a request that the backend refuses itself, with SS_ERR (or the
// given status) and fixed-format sense KEY/ASC/ASCQ.
void refuse(SRB_ExecSCSICmd& srb, std::uint8_t status, std::uint8_t key, std::uint8_t asc,
            std::uint8_t ascq);

}  // namespace platform::sg
