#include "run/repair_journal.h"

#include <cstdio>
#include <string>

#include "bootarea/boot_pair.h"
#include "fat/sector_transfer.h"
#include "run/boot_area_reading.h"
#include "run/startup.h"
#include "scsi/completion_state.h"
#include "scsi/drive_discovery.h"
#include "undo/journal_store.h"

namespace {

void add_boot_area(Journal& journal, const BootAreaImage& image) {
  for (int j = 0; j < BOOT_AREA_SECTORS; ++j) {
    if (boot_area_reading.left_alone.test(j)) continue;
    const std::uint8_t* old_content = boot_area_reading.unreadable.test(j) ? nullptr : boot_area_reading.as_read.sector(j);
    add_journal_entry(journal, static_cast<std::uint32_t>(j), old_content, image.sector(j));
  }
}

// Each sector of the first FAT with the sector of the second that will be
// copied onto it; a sector whose source cannot be read is not written.
void add_fat_copy(Journal& journal, std::int32_t first_fat_start, std::int32_t second_fat_start) {
  const std::int32_t fat_size = second_fat_start - first_fat_start;
  std::uint8_t old_content[SECTOR_SIZE];
  std::uint8_t new_content[SECTOR_SIZE];
  completion_state.quiet = true;
  for (std::int32_t s = first_fat_start; s < second_fat_start; ++s) {
    const bool old_read = read_disk_sector(s, old_content);
    const bool new_read = read_disk_sector(s + fat_size, new_content);
    add_journal_entry(journal, static_cast<std::uint32_t>(s), old_read ? old_content : nullptr,
                      new_read ? new_content : nullptr);
  }
  completion_state.quiet = false;
}

void tell(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "tessaly: %s\n", line.c_str());
}

}  // namespace

bool journal_before_repair(BootAreaImage& image, std::int32_t fat_size, std::int32_t first_fat_start,
                           std::int32_t second_fat_start) {
  if (fat_size != 0) set_fat_size(image, fat_size);
  const JournalPlace place = journal_place();
  if (place.off) return true;
  Journal journal;
  describe_journal(journal, target_drive.model, target_drive.capacity_sectors, JOURNAL_OF_REPAIR, PROGRAM_VERSION);
  add_boot_area(journal, image);
  if (second_fat_start != 0) add_fat_copy(journal, first_fat_start, second_fat_start);
  std::string written;
  const std::string problem = keep_journal(place, journal, "repair", written);
  if (!problem.empty()) {
    tell("no undo journal could be made in " + place.folder + " (" + problem +
         "), so nothing was written to the disk; set TESSALY_UNDO_DIR to a writable folder, or "
         "TESSALY_UNDO=off to repair without a journal");
    return false;
  }
  tell("the sectors this repair overwrites are saved in " + written + "; to put them back: tessaly-undo \"" +
       written + "\"");
  return true;
}
