#include "fat/fat_search.h"

#include <cstdio>
#include <vector>

#include "bootarea/foreign_layout.h"
#include "fat/fat_sum.h"
#include "fat/progress_stars.h"
#include "fat/sector_prints.h"
#include "fat/sector_transfer.h"
#include "scsi/completion_state.h"

namespace {

// What one scan carries from sector to sector.
struct FatScan {
  bool in_zero_run = false;
  int failed_reads = 0;
  std::uint16_t fat_sum = 0;
};

std::uint32_t read_le32(const std::uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// The end of the first FAT is free entries (zero-sum sectors); the second FAT
// starts with the media entry right behind them. Zero runs only count past
// sector 190 so that the first FAT's own start never looks like the second.
std::uint32_t zero_run_bit(FatScan& scan, std::int64_t k, bool zero_sum) {
  if (k <= ZERO_RUN_AFTER_SECTOR) return 0;
  if (scan.in_zero_run && !zero_sum) {
    scan.in_zero_run = false;
    return MATCH_ZERO_RUN_END;
  }
  if (!scan.in_zero_run && zero_sum) scan.in_zero_run = true;
  return 0;
}

// The zero test adds the bytes as signed values without wrapping, so a sector
// whose positive and negative bytes cancel counts as zero-sum too.
std::uint32_t match_bits(FatScan& scan, std::int64_t k, const std::uint8_t* sector, std::int32_t signed_sum) {
  std::uint32_t bits = 0;
  if (read_le32(sector) == FAT_SIGNATURE) bits |= MATCH_SIGNATURE;
  bits |= zero_run_bit(scan, k, signed_sum == 0);
  return bits;
}

}  // namespace

std::optional<std::int64_t> last_search_boot_sector;

std::optional<std::int32_t> search_fat(std::int32_t first_sector, std::int32_t sector_count,
                                       std::uint32_t mode, std::int32_t& fat1_sum) {
  const std::int64_t end = static_cast<std::int64_t>(first_sector) + sector_count;
  // The step comes from the absolute end of the range and the test divides
  // the absolute sector number.
  StarProgress stars = start_star_progress(end);
  std::printf("\n Shearching FAT...\n");
  std::vector<std::uint8_t> window(SECTOR_WINDOW_SLOTS * SECTOR_SIZE);
  FatScan scan;
  restart_prints(last_search_prints, first_sector);
  last_search_boot_sector.reset();
  for (std::int64_t k = first_sector; k < end; ++k) {
    std::uint8_t* slot = window.data() + (k % SECTOR_WINDOW_SLOTS) * SECTOR_SIZE;
    if (!read_disk_sector(k, slot)) {
      note_failed_sector(scan.failed_reads, READ_FAILURE_HEADER, k);
    } else {
      // One pass over the bytes serves the zero test and the FAT sum.
      const std::int32_t signed_sum = sector_signed_sum(slot);
      if ((match_bits(scan, k, slot, signed_sum) & mode) == mode) {
        std::putchar('\n');
        fat1_sum = fat_sum_value(scan.fat_sum);
        return static_cast<std::int32_t>(k);
      }
      scan.fat_sum = static_cast<std::uint16_t>(scan.fat_sum + signed_sum);
      note_print(last_search_prints, k, slot);
      if (!last_search_boot_sector && volume_boot_sector(slot)) last_search_boot_sector = k;
    }
    advance_star_progress(stars, k);
  }
  std::putchar('\n');
  return std::nullopt;
}
