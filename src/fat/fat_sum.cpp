#include "fat/fat_sum.h"

#include <cstdio>
#include <vector>

#include "fat/progress_stars.h"
#include "fat/sector_prints.h"
#include "fat/sector_transfer.h"
#include "scsi/completion_state.h"
#include "fat/fat_search.h"

// The FAT sum adds each byte as a signed value (0x80-0xFF count negative) into
// a 16-bit accumulator that wraps; it differs on purpose from the unsigned
// checksum of the boot area copies.
void add_to_fat_sum(std::uint16_t& accumulator, const std::uint8_t* sector) {
  for (int i = 0; i < SECTOR_SIZE; ++i) {
    accumulator = static_cast<std::uint16_t>(accumulator + static_cast<std::int8_t>(sector[i]));
  }
}

std::int32_t fat_sum_value(std::uint16_t accumulator) {
  return static_cast<std::int16_t>(accumulator);
}

// The second FAT is summed over the length of the first. Progress counts from
// the start of the range. The first unreadable sector ends the sum: the line
// with its number is left open for the run's next message.
std::optional<std::int32_t> sum_fat_sectors(std::int32_t first_sector, std::int32_t sector_count) {
  StarProgress stars = start_star_progress(sector_count);
  std::vector<std::uint8_t> window(SECTOR_WINDOW_SLOTS * SECTOR_SIZE);
  std::uint16_t accumulator = 0;
  const std::int64_t end = static_cast<std::int64_t>(first_sector) + sector_count;
  restart_prints(last_sum_prints, first_sector);
  for (std::int64_t k = first_sector; k < end; ++k) {
    std::uint8_t* slot = window.data() + (k % SECTOR_WINDOW_SLOTS) * SECTOR_SIZE;
    if (!read_disk_sector(k, slot)) {
      int failures = 0;
      note_failed_sector(failures, READ_FAILURE_HEADER, k);
      return std::nullopt;
    }
    add_to_fat_sum(accumulator, slot);
    note_print(last_sum_prints, k, slot);
    advance_star_progress(stars, k - first_sector);
  }
  std::putchar('\n');
  return fat_sum_value(accumulator);
}
