// How a request block reports its outcome: the ASPI status byte, the host
// adapter status, the target's SCSI status and, for a CHECK CONDITION, the
// fixed-format sense data. Every outcome of the image disks is set here.
#pragma once

#include <cstdint>

#include "platform/wnaspi32.h"

namespace platform {

// Host adapter status values of the published interface.
constexpr std::uint8_t HASTAT_OK = 0x00;
constexpr std::uint8_t HASTAT_SEL_TO = 0x11;  // selection time-out: nobody at that id
constexpr std::uint8_t HASTAT_DO_DU = 0x12;   // data overrun or underrun

// SCSI status bytes.
constexpr std::uint8_t SCSI_STATUS_GOOD = 0x00;
constexpr std::uint8_t SCSI_STATUS_CHECK_CONDITION = 0x02;

// Sense key with additional sense code and qualifier.
struct Sense {
  std::uint8_t key;
  std::uint8_t asc;
  std::uint8_t ascq;
};

constexpr Sense SENSE_NOT_READY{0x02, 0x04, 0x00};            // logical unit not ready
constexpr Sense SENSE_UNRECOVERED_READ{0x03, 0x11, 0x00};     // medium error
constexpr Sense SENSE_WRITE_FAULT{0x03, 0x0C, 0x00};          // medium error
constexpr Sense SENSE_TARGET_FAILURE{0x04, 0x44, 0x00};       // hardware error
constexpr Sense SENSE_INVALID_OPCODE{0x05, 0x20, 0x00};       // illegal request
constexpr Sense SENSE_LBA_OUT_OF_RANGE{0x05, 0x21, 0x00};     // illegal request
constexpr Sense SENSE_INVALID_FIELD_IN_CDB{0x05, 0x24, 0x00}; // illegal request
constexpr Sense SENSE_WRITE_PROTECTED{0x07, 0x27, 0x00};      // data protect

void set_good(SRB_ExecSCSICmd& srb);

// SS_ERR with CHECK CONDITION and sense data; the information field is
// filled in when `sector` is given (not UINT64_MAX) and fits in 32 bits.
void set_check_condition(SRB_ExecSCSICmd& srb, Sense sense, std::uint64_t sector = UINT64_MAX);

// An outcome decided by the adapter, not by a target.
void set_adapter_outcome(SRB_ExecSCSICmd& srb, std::uint8_t status, std::uint8_t adapter_status);

// Calls the posting routine when the block asks for posting.
void post_completion(SRB_ExecSCSICmd& srb);

}  // namespace platform
