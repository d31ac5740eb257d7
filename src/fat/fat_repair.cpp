#include "fat/fat_repair.h"

#include <cstdio>
#include <vector>

#include "bootarea/boot_pair.h"
#include "fat/fat_search.h"
#include "fat/progress_stars.h"
#include "fat/sector_transfer.h"
#include "scsi/completion_state.h"

// The image goes back sector by sector, after the measured FAT size has been
// stored into its boot pair. A failed sector is reported and skipped; the
// others are still written. A sector left alone holds only what a failed
// read left in the buffer: writing it would wipe a sector that may still be
// good on the disk.
int write_boot_area(BootAreaImage& image, std::int32_t fat_size, const BootSectorSet& left_alone) {
  if (fat_size != 0) set_fat_size(image, fat_size);
  int failed_writes = 0;
  for (int j = 0; j < BOOT_AREA_SECTORS; ++j) {
    if (left_alone.test(j)) continue;
    if (!write_disk_sector(j, image.sector(j))) note_failed_sector(failed_writes, WRITE_FAILURE_HEADER, j);
  }
  return failed_writes == 0 ? -1 : 0;
}

namespace {

struct FatCopy {
  int failed_reads = 0;
  int failed_writes = 0;
};

// One sector of the second FAT onto its twin in the first. An unreadable
// source leaves the destination as it was. Failures name the source sector.
void copy_fat_sector(FatCopy& copy, std::int64_t source, std::int64_t fat_size, std::uint8_t* slot) {
  if (!read_disk_sector(source, slot)) {
    note_failed_sector(copy.failed_reads, READ_FAILURE_HEADER, source);
    return;
  }
  if (!write_disk_sector(source - fat_size, slot)) {
    note_failed_sector(copy.failed_writes, WRITE_FAILURE_HEADER, source);
  }
}

}  // namespace

// When the two FATs differ the second is taken as the good one and copied,
// one read and one write per sector, over the first.
int repair_fat(std::int32_t first_fat_start, std::int32_t second_fat_start) {
  const std::int64_t fat_size = static_cast<std::int64_t>(second_fat_start) - first_fat_start;
  StarProgress stars = start_star_progress(fat_size);
  std::printf("\n Repairing FAT...\n");
  std::vector<std::uint8_t> window(SECTOR_WINDOW_SLOTS * SECTOR_SIZE);
  FatCopy copy;
  for (std::int64_t s = second_fat_start; s < second_fat_start + fat_size; ++s) {
    copy_fat_sector(copy, s, fat_size, window.data() + (s % SECTOR_WINDOW_SLOTS) * SECTOR_SIZE);
    advance_star_progress(stars, s - second_fat_start);
  }
  return copy.failed_reads == 0 && copy.failed_writes == 0 ? -1 : 0;
}
