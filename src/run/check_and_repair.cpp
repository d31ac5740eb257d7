#include "run/check_and_repair.h"

#include <cstdio>
#include <cstring>

#include "bootarea/assessment.h"
#include "bootarea/mbr.h"
#include "fat/sector_transfer.h"
#include "platform/win32_api.h"
#include "run/boot_area_reading.h"
#include "run/command_line.h"
#include "run/hex_dump.h"
#include "run/run_boxes.h"
#include "scsi/aspi_requests.h"
#include "scsi/completion_state.h"

namespace {

// The start of the disk as read, then as judged and repaired in memory. It is
// all zero when the process starts; a sector whose read failed keeps whatever
// the failed request left in it.
BootAreaImage boot_area_image;

// How each damage bit is reported, in the order the bits are tested.
struct DamageReport {
  BootAreaStatus bit;
  const char* first_line;
  const char* second_line;
  RunSeverity severity;
};

constexpr DamageReport DAMAGE_REPORTS[] = {
    {MBR_RESTORED, "ERROR: Hard Drive MBR damaged:\n", "   Hard Drive may be damaged\n", SEVERITY_DAMAGED},
    {BPB_RESTORED, "ERROR: Hard Drive BPB damaged:\n", "   Hard Drive may be damaged\n", SEVERITY_DAMAGED},
    {BPB_REPLACED, "ERROR: Hard Drive BPB not found:\n", "   Hard Drive may be damaged\n", SEVERITY_DAMAGED},
    {MBR_REBUILT, "ERROR: Hard Drive MBR not found\n", "   Hard Drive may be damaged\n", SEVERITY_DAMAGED},
    {VOLUME_CONVERTED, "ERROR: Hard Drive is removable\n", "   Hard Drive must be reformated\n", SEVERITY_REMOVABLE},
};

constexpr BootAreaStatus DAMAGE_BITS = MBR_RESTORED | BPB_RESTORED | BPB_REPLACED | MBR_REBUILT | VOLUME_CONVERTED;

bool read_boot_sector(const TargetDrive& drive, int s) {
  aspi_read_sectors(static_cast<std::uint8_t>(drive.host_adapter), static_cast<std::uint8_t>(drive.target_id),
                    boot_area_image.sector(s), static_cast<std::uint32_t>(s), 1);
  return last_request_succeeded();
}

// Sectors 0 to 94, one request each. Failures are reported and counted, never
// retried and never fatal.
void read_boot_area(const TargetDrive& drive) {
  int unreadable_count = 0;
  for (int s = 0; s < BOOT_AREA_SECTORS; ++s) {
    if (!read_boot_sector(drive, s)) {
      note_failed_sector(unreadable_count, READ_FAILURE_HEADER, s);
      boot_area_reading.unreadable.set(s);
    } else if (verbose_level >= 2) {
      std::printf("\nHex Dump of Sector=%d=$%x ...\n", s, static_cast<unsigned>(s));
      dump_hex(boot_area_image.sector(s), BOOT_AREA_SECTOR_SIZE);
    }
  }
  if (unreadable_count > 0) std::printf("\nERROR: found %d unreadable boot sectors\n", unreadable_count);
}

// The all-clear report, or two lines for every damage bit. The removable bit
// is tested last, so its severity wins.
RunSeverity report_assessment(BootAreaStatus status) {
  if ((status & DAMAGE_BITS) == 0) {
    std::printf("Pellora Hard Drive is OK\n");
    MessageBoxA(nullptr, ALL_CLEAR_TEXT, ALL_CLEAR_CAPTION, MB_OK);
    return SEVERITY_OK;
  }
  RunSeverity severity = SEVERITY_OK;
  for (const DamageReport& report : DAMAGE_REPORTS) {
    if ((status & report.bit) == 0) continue;
    std::fputs(report.first_line, stdout);
    std::fputs(report.second_line, stdout);
    severity = report.severity;
  }
  return severity;
}

// A fresh MBR sized from a capacity that READ CAPACITY could not tell would
// describe a partition of no meaningful size; it must never reach the disk.
bool fresh_mbr_unwritable(BootAreaStatus status, std::uint32_t capacity) {
  return (status & (MBR_REBUILT | VOLUME_CONVERTED)) != 0 && !capacity_allows_fresh_mbr(capacity);
}

}  // namespace

BootAreaReading boot_area_reading;

BootSectorSet sectors_left_alone(const BootAreaReading& reading, const BootAreaImage& judged) {
  BootSectorSet left_alone;
  for (int s = 0; s < BOOT_AREA_SECTORS; ++s) {
    if (!reading.unreadable.test(s)) continue;
    if (std::memcmp(judged.sector(s), reading.as_read.sector(s), BOOT_AREA_SECTOR_SIZE) == 0) left_alone.set(s);
  }
  return left_alone;
}

void run_check_and_repair(const TargetDrive& drive) {
  boot_area_reading = BootAreaReading{};
  read_boot_area(drive);
  boot_area_reading.as_read = boot_area_image;
  const BootAreaStatus status = assess_boot_area(boot_area_image, drive.capacity_sectors);
  boot_area_reading.left_alone = sectors_left_alone(boot_area_reading, boot_area_image);
  const RunSeverity severity = report_assessment(status);
  check_fat_and_repair(boot_area_image, drive, severity, !fresh_mbr_unwritable(status, drive.capacity_sectors),
                       (status & BPB_REPLACED) != 0);
}
