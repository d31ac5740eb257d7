#include "platform/passthrough/passthrough_request.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace platform::pt {

bool is_aligned(const void* data, std::uint32_t alignment_mask) {
  return (reinterpret_cast<std::uintptr_t>(data) & alignment_mask) == 0;
}

std::uint8_t* AlignedBuffer::get(std::uint32_t length, std::uint32_t alignment_mask) {
  const std::size_t needed = std::size_t{length} + alignment_mask + 1;
  if (storage_.size() < needed) storage_.resize(needed);
  const auto start = reinterpret_cast<std::uintptr_t>(storage_.data());
  const std::uintptr_t aligned = (start + alignment_mask) & ~std::uintptr_t{alignment_mask};
  return storage_.data() + (aligned - start);
}

void build_block(ScsiPassThroughDirectWithSense& block, const PtCommand& command, void* buffer) {
  block = {};
  ScsiPassThroughDirect& sptd = block.sptd;
  sptd.Length = sizeof sptd;
  sptd.CdbLength = std::min<std::uint8_t>(command.cdb_length, sizeof sptd.Cdb);
  std::memcpy(sptd.Cdb, command.cdb, sptd.CdbLength);
  sptd.SenseInfoLength = sizeof block.sense;
  sptd.SenseInfoOffset = offsetof(ScsiPassThroughDirectWithSense, sense);
  sptd.DataIn = command.length == 0 ? WIN_SCSI_IOCTL_DATA_UNSPECIFIED : command.data_in;
  sptd.DataTransferLength = command.length;
  sptd.DataBuffer = command.length == 0 ? nullptr : buffer;
  sptd.TimeOutValue = command.timeout_s;
}

PtResult execute_command(Win32Io& io, Handle handle, const PtCommand& command, std::uint32_t alignment_mask,
                         AlignedBuffer& bounce) {
  std::uint8_t* buffer = command.data;
  const bool bounced = command.length > 0 && !is_aligned(command.data, alignment_mask);
  if (bounced) {
    buffer = bounce.get(command.length, alignment_mask);
    if (command.data_in == WIN_SCSI_IOCTL_DATA_OUT) std::memcpy(buffer, command.data, command.length);
  }
  ScsiPassThroughDirectWithSense block;
  build_block(block, command, buffer);
  std::uint32_t returned = 0;
  PtResult result;
  result.os_error = io.control(handle, WIN_IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block, &block,
                               sizeof block, returned);
  if (result.os_error != 0) return result;
  result.scsi_status = block.sptd.ScsiStatus;
  result.sense_length = std::min<std::uint8_t>(block.sptd.SenseInfoLength, sizeof result.sense);
  std::memcpy(result.sense, block.sense, result.sense_length);
  result.transferred = std::min(block.sptd.DataTransferLength, command.length);
  if (bounced && command.data_in == WIN_SCSI_IOCTL_DATA_IN) std::memcpy(command.data, buffer, result.transferred);
  return result;
}

}  // namespace platform::pt
