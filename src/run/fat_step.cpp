#include <cstdio>
#include <optional>

#include "bootarea/boot_pair.h"
#include "bootarea/bpb_fields.h"
#include "bootarea/checksum.h"
#include "bootarea/little_endian.h"
#include "fat/fat_repair.h"
#include "fat/fat_search.h"
#include "fat/fat_sum.h"
#include "fat/sector_transfer.h"
#include "files/fat_judgement.h"
#include "platform/disk_session.h"
#include "platform/win32_api.h"
#include "run/boot_area_reading.h"
#include "run/check_and_repair.h"
#include "run/fat_choice_report.h"
#include "run/repair_journal.h"
#include "run/repair_outcome.h"
#include "run/run_boxes.h"

namespace {

// The first FAT starts right behind the boot area.
constexpr std::int32_t FIRST_FAT_START = BOOT_AREA_SECTORS;
constexpr unsigned CONFIRMATION_STYLE = MB_OKCANCEL | MB_ICONWARNING;

constexpr const char* UNKNOWN_CAPACITY_LINE = "ERROR: Hard Drive capacity unknown, MBR cannot be rebuilt\n";
constexpr const char* FAT_LOCATION_MISMATCH_LINE =
    "ERROR: FAT location does not match the boot sector, FAT not checked\n";

// The player's volume: 32 reserved sectors, so that FAT1 begins at 95.
constexpr std::uint32_t PLAYER_RESERVED_SECTORS = FIRST_FAT_START - PARTITIONED_VOLUME_START;

// What the FAT step found out.
struct FatFindings {
  std::optional<std::int32_t> second_fat_start;
  std::int32_t fat_size = 0;
  bool fat_repair_needed = false;
  FirstFatKept first_kept;  // the sectors whose first-FAT copy the repair keeps
};

// The second FAT is found by content: first as a signature right behind a
// run of free entries, failing that as the first signature at all.
std::optional<std::int32_t> locate_second_fat(std::int32_t& fat1_sum) {
  std::optional<std::int32_t> found =
      search_fat(FIRST_FAT_START, FAT_SEARCH_SPAN, MATCH_SIGNATURE | MATCH_ZERO_RUN_END, fat1_sum);
  if (!found) found = search_fat(FIRST_FAT_START, FAT_SEARCH_SPAN, MATCH_SIGNATURE, fat1_sum);
  return found;
}

// Which copy of each differing sector the repair keeps, judged by the files
// whose chains run through it, and told before the first box.
void choose_fat_copies(const BootAreaImage& image, FatFindings& fat, std::uint32_t capacity) {
  FatJudgement judgement;
  judge_fat_differences(image.sector(PARTITIONED_VOLUME_START), PARTITIONED_VOLUME_START, FIRST_FAT_START,
                        fat.fat_size, capacity, judgement);
  tell_fat_choice(judgement);
  if (judgement.not_judged != nullptr) return;
  fat.first_kept.assign(judgement.sides.size(), false);
  for (std::size_t s = 0; s < judgement.sides.size(); ++s) fat.first_kept[s] = judgement.sides[s] == FAT_FIRST;
}

// Only an unreadable sector of the second FAT makes the sums incomparable; a
// genuine sum of -1 is compared like any other.
void compare_fats(BootAreaImage& image, FatFindings& fat, std::int32_t fat1_sum, RunSeverity& severity,
                  std::uint32_t capacity) {
  std::optional<std::int32_t> fat2_sum = sum_fat_sectors(*fat.second_fat_start, fat.fat_size);
  if (!fat2_sum) {
    std::printf("Impossible to check FAT\n");
  } else if (*fat2_sum == fat1_sum) {
    std::printf("FAT1 == FAT2\n");
    if (fat.fat_size != 0) set_fat_size(image, fat.fat_size);
  } else {
    std::printf("FAT1 != FAT2\n");
    fat.fat_repair_needed = true;
    severity = SEVERITY_DAMAGED;
    choose_fat_copies(image, fat, capacity);
  }
}

// What the step knows of the disk beside the image: its capacity, whether
// the boot sector at 63 is a template this run placed, and whether the disk
// as read carries a GUID partition table.
struct FatStepContext {
  std::uint32_t capacity = 0;
  bool templates_placed = false;
  bool guid_partition_table = false;
};

// One single-sector read of the place where the boot sector puts a FAT. An
// unreadable sector cannot contradict the boot sector, so it counts as a FAT.
bool fat_or_unreadable_at(std::uint64_t sector) {
  std::uint8_t buffer[BOOT_AREA_SECTOR_SIZE];
  if (!read_disk_sector(static_cast<std::int64_t>(sector), buffer)) return true;
  return read_le32(buffer) == FAT_SIGNATURE;
}

// The search takes FAT1 to begin at 95 and FAT2 where the content says. That
// holds on the player's volume only: a GUID partition table (its volumes lie
// where its own entries say, whatever the MBR judging made of sector 0), a
// volume elsewhere, a volume's boot sector between 95 and the FAT found
// (another volume begins where FAT1 would lie, whatever the boot area now
// says: its FAT is what the search found), a volume with a single FAT
// (where the search finds file data, not a second FAT), or a sound boot
// sector whose FATs lie where it says and not where the search found them,
// shows another layout, and copying FAT2 over 95 would then overwrite the
// volume's own sectors. A template placed in this run, an unsigned sector,
// fields of 0 or FATs past the disk's end hold no layout to weigh against
// the search; a boot sector whose fields point at sectors that are no FAT
// is itself what is damaged, and the measured size mends it as designed.
bool disk_shows_another_layout(const BootAreaImage& image, std::int32_t measured_fat_size,
                               const FatStepContext& context) {
  if (context.guid_partition_table) return true;
  if (volume_geometry.volume_start != PARTITIONED_VOLUME_START) return true;
  if (last_search_boot_sector) return true;
  if (context.templates_placed) return false;
  const std::uint8_t* boot = image.sector(PARTITIONED_VOLUME_START);
  if (!has_boot_signature(boot)) return false;
  if (boot[bpb::NUMBER_OF_FATS] == 1) return true;
  const std::uint32_t reserved = read_le16(boot + bpb::RESERVED_SECTORS);
  const std::uint32_t fat_size = read_le32(boot + bpb::FAT_SIZE_32);
  if (reserved == PLAYER_RESERVED_SECTORS && fat_size == static_cast<std::uint32_t>(measured_fat_size)) return false;
  if (reserved == 0 || fat_size == 0) return false;
  const std::uint64_t first_fat = PARTITIONED_VOLUME_START + static_cast<std::uint64_t>(reserved);
  const std::uint64_t second_fat = first_fat + fat_size;
  // An unknown capacity (0) bounds nothing: the reads themselves decide, and
  // a sector past the end cannot be read, which cannot contradict the boot
  // sector.
  const bool past_end = context.capacity != 0 && (first_fat >= context.capacity || second_fat >= context.capacity);
  if (past_end) return false;
  return fat_or_unreadable_at(first_fat) && fat_or_unreadable_at(second_fat);
}

void run_fat_step(BootAreaImage& image, FatFindings& fat, RunSeverity& severity, const FatStepContext& context) {
  std::int32_t fat1_sum = 0;
  fat.second_fat_start = locate_second_fat(fat1_sum);
  if (!fat.second_fat_start) {
    std::printf("No Fat found ????\n");
    return;
  }
  const std::int32_t start = *fat.second_fat_start;
  fat.fat_size = start - FIRST_FAT_START;
  std::printf("Fat found on sector %d at Address 0x%x \n", start, static_cast<unsigned>(start) * 512u);
  std::printf("Fat size : %d SECTORS = 0x%x BYTES \n", fat.fat_size, static_cast<unsigned>(fat.fat_size) * 512u);
  if (disk_shows_another_layout(image, fat.fat_size, context)) {
    // As if no FAT had been found: no comparison, no copy, and a size of 0,
    // which leaves the boot sector's own FAT size alone.
    std::fputs(FAT_LOCATION_MISMATCH_LINE, stdout);
    fat.fat_size = 0;
    return;
  }
  std::printf("\n Checking FAT ...\n");
  compare_fats(image, fat, fat1_sum, severity, context.capacity);
}

// Two boxes; Cancel (also Esc or closing the box) on either ends the run.
bool user_confirms(const char* first_text, const char* first_caption, const char* second_text,
                   const char* second_caption) {
  if (MessageBoxA(nullptr, first_text, first_caption, CONFIRMATION_STYLE) == IDCANCEL) return false;
  return MessageBoxA(nullptr, second_text, second_caption, CONFIRMATION_STYLE) != IDCANCEL;
}

bool repair_confirmed(RunSeverity severity) {
  if (severity == SEVERITY_REMOVABLE) {
    return user_confirms(REMOVABLE_TEXT, REMOVABLE_CAPTION, NOT_REMOVABLE_TEXT, DAMAGED_CAPTION);
  }
  return user_confirms(DAMAGED_TEXT, DAMAGED_CAPTION, ABOUT_TO_REPAIR_TEXT, ABOUT_TO_REPAIR_CAPTION);
}

// Journal first, then boot area, then FAT; a failure of the boot area does
// not stop the FAT copy. From the first write to the flush behind the last,
// Ctrl+C does not end the program. Without a complete journal the run ends
// as after a Cancel. What the repair could not write is told last.
void repair_disk(BootAreaImage& image, const FatFindings& fat) {
  const std::int32_t fat_size = fat.second_fat_start ? fat.fat_size : 0;
  const std::int32_t fat_source = fat.fat_repair_needed ? *fat.second_fat_start : 0;
  disk_transfers = DiskTransfers{};
  if (!journal_before_repair(image, fat_size, FIRST_FAT_START, fat_source, fat.first_kept)) {
    return tell_unfinished_repair(false);
  }
  platform::begin_disk_writes();
  bool failed = false;
  if (write_boot_area(image, fat_size, &boot_area_reading.as_read, boot_area_reading.left_alone) == 0) {
    std::printf("Impossible to repair %d first sectors\n", BOOT_AREA_SECTORS);
    failed = true;
  }
  if (fat.fat_repair_needed && repair_fat(FIRST_FAT_START, *fat.second_fat_start, fat.first_kept) == 0) {
    std::printf("\nImpossible to repair FAT\n");
    failed = true;
  }
  platform::end_disk_writes();
  std::putchar('\n');
  tell_unfinished_repair(failed);
}

}  // namespace

void check_fat_and_repair(BootAreaImage& image, const TargetDrive& drive, RunSeverity run_severity,
                          bool boot_area_writable, bool templates_placed) {
  FatFindings fat;
  const FatStepContext context{drive.capacity_sectors, templates_placed,
                               holds_guid_partition_table(boot_area_reading)};
  // After a repartition the old FATs are no longer where the new layout
  // expects them, so they are not looked for.
  if (run_severity != SEVERITY_REMOVABLE) run_fat_step(image, fat, run_severity, context);
  if (run_severity == SEVERITY_OK) return;
  if (!boot_area_writable) {
    std::fputs(UNKNOWN_CAPACITY_LINE, stdout);
    return;
  }
  tell_replaced_layout(image);
  if (!repair_confirmed(run_severity)) return;
  repair_disk(image, fat);
}
