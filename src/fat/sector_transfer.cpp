#include "fat/sector_transfer.h"

#include <cstdio>

#include "platform/wnaspi32.h"
#include "scsi/aspi_requests.h"
#include "scsi/completion_state.h"
#include "scsi/drive_discovery.h"

DiskTransfers disk_transfers;

namespace {

bool note_outcome() {
  const std::int32_t status = completion_state.status.load(std::memory_order_acquire);
  if (status == SS_NO_DEVICE || status == SS_INVALID_HA) disk_transfers.drive_gone = true;
  return last_request_succeeded();
}

}  // namespace

bool read_disk_sector(std::int64_t sector, std::uint8_t* buffer) {
  aspi_read_sectors(static_cast<std::uint8_t>(target_drive.host_adapter),
                    static_cast<std::uint8_t>(target_drive.target_id), buffer,
                    static_cast<std::uint32_t>(sector), 1);
  return note_outcome();
}

bool read_disk_sector_quietly(std::int64_t sector, std::uint8_t* buffer) {
  completion_state.quiet = true;
  const bool read = read_disk_sector(sector, buffer);
  completion_state.quiet = false;
  return read;
}

bool read_disk_sectors_quietly(std::int64_t first, std::uint16_t count, std::uint8_t* buffer) {
  completion_state.quiet = true;
  aspi_read_sectors(static_cast<std::uint8_t>(target_drive.host_adapter),
                    static_cast<std::uint8_t>(target_drive.target_id), buffer, static_cast<std::uint32_t>(first),
                    count);
  completion_state.quiet = false;
  return note_outcome();
}

bool write_disk_sector(std::int64_t sector, const std::uint8_t* buffer) {
  aspi_write_sectors(static_cast<std::uint8_t>(target_drive.host_adapter),
                     static_cast<std::uint8_t>(target_drive.target_id), buffer,
                     static_cast<std::uint32_t>(sector), 1);
  if (!note_outcome()) return false;
  ++disk_transfers.sectors_written;
  return true;
}

void note_failed_sector(int& failures, const char* header, std::int64_t sector) {
  if (failures == 0) std::fputs(header, stdout);
  std::printf(" $%2x", static_cast<unsigned>(sector));
  ++failures;
}
