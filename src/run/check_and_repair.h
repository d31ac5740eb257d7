// The check-and-repair run on the selected drive.
#pragma once

#include "bootarea/boot_area_image.h"
#include "scsi/drive_discovery.h"

enum RunSeverity {
  SEVERITY_OK = 1,
  SEVERITY_DAMAGED = 2,
  SEVERITY_REMOVABLE = 3,
};

// Reads, judges and reports the boot area, then checks the FATs and repairs
// after the user's consent.
void run_check_and_repair(const TargetDrive& drive);

// The FAT step, the confirmations and the repair. With `boot_area_writable`
// false (the image holds a fresh MBR sized from an unknown capacity) the run
// says so and offers no repair. `templates_placed` says that the boot sector
// at 63 is a template of this run, not the disk's own: it then describes no
// layout that the found FATs could be held against.
void check_fat_and_repair(BootAreaImage& image, const TargetDrive& drive, RunSeverity run_severity,
                          bool boot_area_writable = true, bool templates_placed = false);
