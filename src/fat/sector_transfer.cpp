#include "fat/sector_transfer.h"

#include <cstdio>

#include "scsi/aspi_requests.h"
#include "scsi/completion_state.h"
#include "scsi/drive_discovery.h"

bool read_disk_sector(std::int64_t sector, std::uint8_t* buffer) {
  aspi_read_sectors(static_cast<std::uint8_t>(target_drive.host_adapter),
                    static_cast<std::uint8_t>(target_drive.target_id), buffer,
                    static_cast<std::uint32_t>(sector), 1);
  return last_request_succeeded();
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
  return last_request_succeeded();
}

bool write_disk_sector(std::int64_t sector, const std::uint8_t* buffer) {
  aspi_write_sectors(static_cast<std::uint8_t>(target_drive.host_adapter),
                     static_cast<std::uint8_t>(target_drive.target_id), buffer,
                     static_cast<std::uint32_t>(sector), 1);
  return last_request_succeeded();
}

void note_failed_sector(int& failures, const char* header, std::int64_t sector) {
  if (failures == 0) std::fputs(header, stdout);
  std::printf(" $%2x", static_cast<unsigned>(sector));
  ++failures;
}
