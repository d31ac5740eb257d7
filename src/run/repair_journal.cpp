#include "run/repair_journal.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bootarea/boot_pair.h"
#include "fat/fat_repair.h"
#include "fat/sector_prints.h"
#include "fat/sector_transfer.h"
#include "run/boot_area_reading.h"
#include "run/repair_outcome.h"
#include "run/startup.h"
#include "run/tell_user.h"
#include "scsi/completion_state.h"
#include "scsi/drive_discovery.h"
#include "undo/journal_store.h"

namespace {

// The boot-area sectors the write-back will write, as they were read.
void add_boot_area(Journal& journal, const BootAreaImage& image) {
  const BootSectorSet to_write =
      boot_sectors_to_write(image, &boot_area_reading.as_read, boot_area_reading.left_alone);
  for (int j = 0; j < BOOT_AREA_SECTORS; ++j) {
    if (!to_write.test(j)) continue;
    const std::uint8_t* old_content = boot_area_reading.unreadable.test(j) ? nullptr : boot_area_reading.as_read.sector(j);
    add_journal_entry(journal, static_cast<std::uint32_t>(j), old_content, image.sector(j));
  }
}

// The FAT sectors that the copy may write: those of the first FAT that the
// check did not see equal to their source in the second, and the second
// FAT's where the first FAT's copy is kept. Each is read now, with its
// source, so that a twin found equal is left out (the copy will not write
// it either); a source that cannot be read is not copied.
void add_fat_copy(Journal& journal, std::int32_t first_fat_start, std::int32_t second_fat_start,
                  const FirstFatKept& first_kept) {
  const std::int32_t fat_size = second_fat_start - first_fat_start;
  const std::vector<bool> may_need_write = plan_fat_copy(first_fat_start, second_fat_start);
  std::uint8_t old_content[SECTOR_SIZE];
  std::uint8_t new_content[SECTOR_SIZE];
  for (std::int32_t i = 0; i < fat_size; ++i) {
    if (disk_transfers.drive_gone) return;
    const bool kept = first_fat_kept(first_kept, i);
    if (!kept && !may_need_write[static_cast<std::size_t>(i)]) continue;
    const std::int32_t destination = kept ? second_fat_start + i : first_fat_start + i;
    const std::int32_t source = kept ? first_fat_start + i : second_fat_start + i;
    const bool new_read = read_disk_sector_quietly(source, new_content);
    const bool old_read = read_disk_sector_quietly(destination, old_content);
    if (new_read && old_read && std::memcmp(old_content, new_content, SECTOR_SIZE) == 0) continue;
    add_journal_entry(journal, static_cast<std::uint32_t>(destination), old_read ? old_content : nullptr,
                      new_read ? new_content : nullptr);
  }
}

}  // namespace

bool journal_before_repair(BootAreaImage& image, std::int32_t fat_size, std::int32_t first_fat_start,
                           std::int32_t second_fat_start, const FirstFatKept& first_kept) {
  if (fat_size != 0) set_fat_size(image, fat_size);
  const JournalPlace place = journal_place();
  // The plan is made without a journal too: it counts what the repair sets
  // out to write.
  Journal journal;
  describe_journal(journal, target_drive.model, target_drive.capacity_sectors, JOURNAL_OF_REPAIR, PROGRAM_VERSION);
  add_boot_area(journal, image);
  if (second_fat_start != 0) add_fat_copy(journal, first_fat_start, second_fat_start, first_kept);
  repair_plan = RepairPlan{static_cast<std::int64_t>(journal.entries.size()), ""};
  // A drive gone before the first write leaves the journal incomplete.
  if (disk_transfers.drive_gone) return false;
  if (place.off) return true;
  std::string written;
  const std::string problem = keep_journal(place, journal, "repair", written);
  if (!problem.empty()) {
    tell_user("no undo journal could be made in " + place.folder + " (" + problem +
         "), so nothing was written to the disk; set TESSALY_UNDO_DIR to a writable folder, or "
         "TESSALY_UNDO=off to repair without a journal");
    return false;
  }
  repair_plan.journal = written;
  tell_user("the sectors this repair overwrites are saved in " + written + "; to put them back: tessaly-undo \"" +
       written + "\"");
  return true;
}
