// One SCSI command as it travels through WIN_IOCTL_SCSI_PASS_THROUGH_DIRECT: the
// block with its sense area behind it, the data in a buffer that meets the
// adapter's alignment (the caller's own when it already does, otherwise a
// bounce buffer), and what came back.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/passthrough/passthrough_io.h"

namespace platform::pt {

// Seconds a command may take: long enough for a disk that has to spin up.
constexpr std::uint32_t COMMAND_TIMEOUT_S = 20;
// SYNCHRONIZE CACHE may have to write back a whole drive cache.
constexpr std::uint32_t FLUSH_TIMEOUT_S = 60;

struct PtCommand {
  const std::uint8_t* cdb = nullptr;
  std::uint8_t cdb_length = 0;
  std::uint8_t data_in = WIN_SCSI_IOCTL_DATA_UNSPECIFIED;  // SCSI_IOCTL_DATA_*
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  std::uint32_t timeout_s = COMMAND_TIMEOUT_S;
};

// What the call and the device said: GetLastError() of a failed call (0 when
// the call itself worked), the SCSI status, the sense bytes and how many
// data bytes moved.
struct PtResult {
  std::uint32_t os_error = 0;
  std::uint8_t scsi_status = 0;
  std::uint8_t sense_length = 0;
  std::uint8_t sense[PASS_THROUGH_SENSE_BYTES] = {};
  std::uint32_t transferred = 0;
};

// Memory whose start meets an alignment mask, kept for reuse.
class AlignedBuffer {
 public:
  std::uint8_t* get(std::uint32_t length, std::uint32_t alignment_mask);

 private:
  std::vector<std::uint8_t> storage_;
};

bool is_aligned(const void* data, std::uint32_t alignment_mask);

// Fills in the block for `command`, its data at `buffer`.
void build_block(ScsiPassThroughDirectWithSense& block, const PtCommand& command, void* buffer);

// Sends one command to the disk behind `handle`.
PtResult execute_command(Win32Io& io, Handle handle, const PtCommand& command, std::uint32_t alignment_mask,
                         AlignedBuffer& bounce);

}  // namespace platform::pt
