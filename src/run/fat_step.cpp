#include <cstdio>
#include <optional>

#include "bootarea/boot_pair.h"
#include "fat/fat_repair.h"
#include "fat/fat_search.h"
#include "fat/fat_sum.h"
#include "platform/win32_api.h"
#include "run/boot_area_reading.h"
#include "run/check_and_repair.h"
#include "run/repair_journal.h"
#include "run/run_boxes.h"

namespace {

// The first FAT starts right behind the boot area.
constexpr std::int32_t FIRST_FAT_START = BOOT_AREA_SECTORS;
constexpr unsigned CONFIRMATION_STYLE = MB_OKCANCEL | MB_ICONWARNING;

constexpr const char* UNKNOWN_CAPACITY_LINE = "ERROR: Hard Drive capacity unknown, MBR cannot be rebuilt\n";

// What the FAT step found out.
struct FatFindings {
  std::optional<std::int32_t> second_fat_start;
  std::int32_t fat_size = 0;
  bool fat_repair_needed = false;
};

// The second FAT is found by content: first as a signature right behind a
// run of free entries, failing that as the first signature at all.
std::optional<std::int32_t> locate_second_fat(std::int32_t& fat1_sum) {
  std::optional<std::int32_t> found =
      search_fat(FIRST_FAT_START, FAT_SEARCH_SPAN, MATCH_SIGNATURE | MATCH_ZERO_RUN_END, fat1_sum);
  if (!found) found = search_fat(FIRST_FAT_START, FAT_SEARCH_SPAN, MATCH_SIGNATURE, fat1_sum);
  return found;
}

// Only an unreadable sector of the second FAT makes the sums incomparable; a
// genuine sum of -1 is compared like any other.
void compare_fats(BootAreaImage& image, FatFindings& fat, std::int32_t fat1_sum, RunSeverity& severity) {
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
  }
}

void run_fat_step(BootAreaImage& image, FatFindings& fat, RunSeverity& severity) {
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
  std::printf("\n Checking FAT ...\n");
  compare_fats(image, fat, fat1_sum, severity);
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
// not stop the FAT copy. Without a complete journal the run ends as after a
// Cancel.
void repair_disk(BootAreaImage& image, const FatFindings& fat) {
  const std::int32_t fat_size = fat.second_fat_start ? fat.fat_size : 0;
  const std::int32_t fat_source = fat.fat_repair_needed ? *fat.second_fat_start : 0;
  if (!journal_before_repair(image, fat_size, FIRST_FAT_START, fat_source)) return;
  if (write_boot_area(image, fat_size, boot_area_reading.left_alone) == 0) {
    std::printf("Impossible to repair %d first sectors\n", BOOT_AREA_SECTORS);
  }
  if (fat.fat_repair_needed && repair_fat(FIRST_FAT_START, *fat.second_fat_start) == 0) {
    std::printf("\nImpossible to repair FAT\n");
  }
  std::putchar('\n');
}

}  // namespace

void check_fat_and_repair(BootAreaImage& image, const TargetDrive& /*drive*/, RunSeverity run_severity,
                          bool boot_area_writable) {
  FatFindings fat;
  // After a repartition the old FATs are no longer where the new layout
  // expects them, so they are not looked for.
  if (run_severity != SEVERITY_REMOVABLE) run_fat_step(image, fat, run_severity);
  if (run_severity == SEVERITY_OK) return;
  if (!boot_area_writable) {
    std::fputs(UNKNOWN_CAPACITY_LINE, stdout);
    return;
  }
  if (!repair_confirmed(run_severity)) return;
  repair_disk(image, fat);
}
