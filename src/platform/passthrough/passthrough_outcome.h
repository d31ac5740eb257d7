// The one place where what a pass-through call returned becomes an ASPI
// status: the call's own error (GetLastError), the device's SCSI status with
// its sense bytes, and a short transfer.
#pragma once

#include <cstdint>

#include "platform/passthrough/passthrough_request.h"
#include "platform/wnaspi32.h"

namespace platform::pt {

// ASPI host adapter status of a command that ran out of time.
constexpr std::uint8_t HASTAT_COMMAND_TIMEOUT = 0x0B;

// Whether a call's error (GetLastError) says that the disk is gone; such a
// request completes with SS_NO_DEVICE.
bool device_gone(std::uint32_t error);

// Stores the outcome into the block. `exact_length` marks commands whose
// transfer must come back whole (READ(10), WRITE(10)); INQUIRY may well
// return less than it was allowed.
void store_outcome(SRB_ExecSCSICmd& srb, const PtResult& result, std::uint32_t expected, bool exact_length);

}  // namespace platform::pt
