// What the run learnt while reading the boot area, beside the image itself:
// the sectors as they came from the disk, and which of them could not be
// read. The repair leaves alone every unreadable sector that the judging did
// not fill with new content (a restored copy, a template, a fresh MBR): the
// image holds only what the failed request left in the buffer there, and the
// sector on the disk may still be good.
#pragma once

#include <string>

#include "bootarea/boot_area_image.h"

struct BootAreaReading {
  BootAreaImage as_read{};   // the image right after reading, before judging
  BootSectorSet unreadable;  // sectors whose read failed
  BootSectorSet left_alone;  // unreadable and given no new content
};

// One for the run, filled by run_check_and_repair.
extern BootAreaReading boot_area_reading;

// The unreadable sectors whose image content is still what the read left.
BootSectorSet sectors_left_alone(const BootAreaReading& reading, const BootAreaImage& judged);

// Whether disk sector 1, as read, held a GUID partition table's header.
bool holds_guid_partition_table(const BootAreaReading& reading);

// The layout of another kind that the disk held as read and that the judged
// image replaces, as words for the user ("a GUID partition table", "a FAT16
// volume at sector 63"); empty when the repair replaces none.
std::string replaced_foreign_layout(const BootAreaReading& reading, const BootAreaImage& judged);

// Before the repair boxes: one line on standard error when the repair would
// replace a layout of another kind, naming it and how to get it back.
void tell_replaced_layout(const BootAreaImage& judged);
