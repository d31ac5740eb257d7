#include "fat/fat_repair.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "bootarea/boot_pair.h"
#include "fat/fat_search.h"
#include "fat/progress_stars.h"
#include "fat/sector_prints.h"
#include "fat/sector_transfer.h"
#include "scsi/completion_state.h"

BootSectorSet boot_sectors_to_write(const BootAreaImage& image, const BootAreaImage* as_read,
                                    const BootSectorSet& left_alone) {
  BootSectorSet to_write;
  for (int j = 0; j < BOOT_AREA_SECTORS; ++j) {
    if (left_alone.test(j)) continue;
    if (as_read != nullptr && std::memcmp(image.sector(j), as_read->sector(j), BOOT_AREA_SECTOR_SIZE) == 0) continue;
    to_write.set(j);
  }
  return to_write;
}

// The image goes back sector by sector, after the measured FAT size has been
// stored into its boot pair. A failed sector is reported and skipped; the
// others are still written, unless the drive went away: then nothing more
// can reach it.
int write_boot_area(BootAreaImage& image, std::int32_t fat_size, const BootAreaImage* as_read,
                    const BootSectorSet& left_alone) {
  if (fat_size != 0) set_fat_size(image, fat_size);
  const BootSectorSet to_write = boot_sectors_to_write(image, as_read, left_alone);
  int failed_writes = 0;
  for (int j = 0; j < BOOT_AREA_SECTORS; ++j) {
    if (disk_transfers.drive_gone) break;
    if (!to_write.test(j)) continue;
    if (!write_disk_sector(j, image.sector(j))) note_failed_sector(failed_writes, WRITE_FAILURE_HEADER, j);
  }
  return failed_writes == 0 && !disk_transfers.drive_gone ? -1 : 0;
}

namespace {

struct FatCopy {
  int failed_reads = 0;
  int failed_writes = 0;
};

// Whether the first FAT's sector `twin` already holds `content`. Its read is
// quiet: a twin that cannot be read is simply written.
bool twin_holds(std::int64_t twin, const std::uint8_t* content) {
  std::uint8_t held[SECTOR_SIZE];
  return read_disk_sector_quietly(twin, held) && std::memcmp(held, content, SECTOR_SIZE) == 0;
}

// One sector of one FAT onto its twin in the other. An unreadable source
// leaves the destination as it was. A source the check saw equal to its
// twin needs no write; should it read differently now, the disk changed
// since the check and since the undo journal was made, which holds no copy
// of that twin: it is left as it is and counted as not repaired. Failures
// name the source sector.
void copy_fat_sector(FatCopy& copy, std::int64_t source, std::int64_t destination, std::uint8_t* slot,
                     bool may_need_write) {
  if (!read_disk_sector(source, slot)) {
    note_failed_sector(copy.failed_reads, READ_FAILURE_HEADER, source);
    return;
  }
  if (!may_need_write) {
    if (print_of(last_sum_prints, source) != sector_print(slot)) {
      note_failed_sector(copy.failed_writes, WRITE_FAILURE_HEADER, source);
    }
    return;
  }
  if (twin_holds(destination, slot)) return;
  if (!write_disk_sector(destination, slot)) note_failed_sector(copy.failed_writes, WRITE_FAILURE_HEADER, source);
}

}  // namespace

// When the two FATs differ the second is taken as the good one and copied
// over the first, sector by sector, where the two differ; the sectors
// where the first is the sound copy go the other way. The copy ends early
// when the drive goes away.
int repair_fat(std::int32_t first_fat_start, std::int32_t second_fat_start, const FirstFatKept& first_kept) {
  const std::int64_t fat_size = static_cast<std::int64_t>(second_fat_start) - first_fat_start;
  StarProgress stars = start_star_progress(fat_size);
  std::printf("\n Repairing FAT...\n");
  const std::vector<bool> may_need_write = plan_fat_copy(first_fat_start, second_fat_start);
  std::vector<std::uint8_t> window(SECTOR_WINDOW_SLOTS * SECTOR_SIZE);
  FatCopy copy;
  for (std::int64_t i = 0; i < fat_size; ++i) {
    if (disk_transfers.drive_gone) break;
    std::uint8_t* slot = window.data() + ((second_fat_start + i) % SECTOR_WINDOW_SLOTS) * SECTOR_SIZE;
    if (first_fat_kept(first_kept, i)) {
      copy_fat_sector(copy, first_fat_start + i, second_fat_start + i, slot, true);
    } else {
      copy_fat_sector(copy, second_fat_start + i, first_fat_start + i, slot,
                      may_need_write[static_cast<std::size_t>(i)]);
    }
    advance_star_progress(stars, i);
  }
  return copy.failed_reads == 0 && copy.failed_writes == 0 && !disk_transfers.drive_gone ? -1 : 0;
}
