#include "platform/image/image_scsi.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/common/scsi_commands.h"
#include "platform/common/srb_outcome.h"

namespace platform {
namespace {

// Standard INQUIRY data, SCSI-2 response format.
constexpr std::uint8_t INQ_VERSION_SCSI2 = 0x02;
constexpr std::uint8_t INQ_FORMAT_SCSI2 = 0x02;

// A data-in command may come with SRB_DIR_IN or with no direction bit (the
// command decides); SRB_DIR_OUT alone or both bits together are wrong.
bool direction_fits(const SRB_ExecSCSICmd& srb, bool data_in) {
  const std::uint8_t direction = srb.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
  if (direction == 0) return true;
  return direction == (data_in ? SRB_DIR_IN : SRB_DIR_OUT);
}

// The block itself is unfit for the command: no buffer, wrong direction or
// a CDB shorter than the command.
bool block_unfit(SRB_ExecSCSICmd& srb, bool data_in, std::uint8_t cdb_size) {
  if (!direction_fits(srb, data_in) || srb.SRB_CDBLen < cdb_size ||
      (srb.SRB_BufLen > 0 && srb.SRB_BufPointer == nullptr)) {
    set_adapter_outcome(srb, SS_INVALID_SRB, HASTAT_OK);
    return true;
  }
  return false;
}

// Hands `length` bytes of `data` to the requester, cut to its buffer.
void deliver(SRB_ExecSCSICmd& srb, const std::uint8_t* data, std::size_t length) {
  const std::size_t fitting = std::min<std::size_t>(length, srb.SRB_BufLen);
  if (fitting > 0) std::memcpy(srb.SRB_BufPointer, data, fitting);
}

void inquiry(ImageDisk& disk, SRB_ExecSCSICmd& srb) {
  if (block_unfit(srb, true, CDB6_SIZE)) return;
  if (disk.config().no_inquiry) return set_check_condition(srb, SENSE_TARGET_FAILURE);
  if (srb.CDBByte[CDB_INQUIRY_EVPD] & 0x01) return set_check_condition(srb, SENSE_INVALID_FIELD_IN_CDB);
  std::array<std::uint8_t, INQUIRY_DATA_LENGTH> data{};
  data[INQ_PERIPHERAL] = 0x00;  // qualifier 0, type 0: direct access
  data[INQ_REMOVABLE] = 0x00;   // bit 7 stays clear: a fixed disk
  data[INQ_VERSION] = INQ_VERSION_SCSI2;
  data[INQ_RESPONSE_FORMAT] = INQ_FORMAT_SCSI2;
  data[INQ_ADDITIONAL_LENGTH] = INQUIRY_DATA_LENGTH - 5;
  std::memcpy(&data[INQ_MODEL], disk.config().model.data(), IMAGE_MODEL_LENGTH);
  std::memcpy(&data[INQ_REVISION], "1.00", 4);
  deliver(srb, data.data(), std::min<std::size_t>(data.size(), srb.CDBByte[CDB_INQUIRY_ALLOCATION]));
  set_good(srb);
}

void read_capacity(ImageDisk& disk, SRB_ExecSCSICmd& srb) {
  if (block_unfit(srb, true, CDB10_SIZE)) return;
  if (disk.config().no_capacity) return set_check_condition(srb, SENSE_NOT_READY);
  // A disk too large for 32 bits answers 0xFFFFFFFF, as SCSI prescribes.
  const std::uint64_t last = disk.sector_count() - 1;
  std::array<std::uint8_t, CAPACITY_DATA_SIZE> data{};
  put_be32(&data[CAPACITY_LAST_LBA], last > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(last));
  put_be32(&data[CAPACITY_BLOCK_LENGTH], IMAGE_SECTOR_SIZE);
  deliver(srb, data.data(), data.size());
  set_good(srb);
}

void report_transfer(SRB_ExecSCSICmd& srb, TransferResult result, std::uint64_t sector, Sense medium) {
  switch (result) {
    case TransferResult::done: return set_good(srb);
    case TransferResult::out_of_range: return set_check_condition(srb, SENSE_LBA_OUT_OF_RANGE);
    case TransferResult::write_protected: return set_check_condition(srb, SENSE_WRITE_PROTECTED);
    case TransferResult::bad_sector:
    case TransferResult::io_error: return set_check_condition(srb, medium, sector);
  }
}

// READ(10) and WRITE(10): the buffer must hold the whole transfer, or the
// adapter reports an overrun and nothing moves.
void transfer(ImageDisk& disk, SRB_ExecSCSICmd& srb, bool is_read) {
  if (block_unfit(srb, is_read, CDB10_SIZE)) return;
  const std::uint32_t first = cdb10_lba(srb.CDBByte);
  const std::uint16_t count = cdb10_blocks(srb.CDBByte);
  if (srb.SRB_BufLen < std::uint64_t{count} * IMAGE_SECTOR_SIZE) {
    return set_adapter_outcome(srb, SS_ERR, HASTAT_DO_DU);
  }
  std::uint64_t failed = UINT64_MAX;
  const TransferResult result = is_read ? disk.read(first, count, srb.SRB_BufPointer, failed)
                                        : disk.write(first, count, srb.SRB_BufPointer, failed);
  report_transfer(srb, result, failed, is_read ? SENSE_UNRECOVERED_READ : SENSE_WRITE_FAULT);
}

}  // namespace

void execute_image_command(ImageDisk& disk, SRB_ExecSCSICmd& srb) {
  switch (srb.CDBByte[CDB_OPCODE]) {
    case OP_INQUIRY: return inquiry(disk, srb);
    case OP_READ_CAPACITY_10: return read_capacity(disk, srb);
    case OP_READ_10: return transfer(disk, srb, true);
    case OP_WRITE_10: return transfer(disk, srb, false);
    default: return set_check_condition(srb, SENSE_INVALID_OPCODE);
  }
}

}  // namespace platform
