// The only two operations that write to the player's disk.
#pragma once

#include <cstdint>

#include "bootarea/boot_area_image.h"

// Stores `fat_size` into the image's boot pair when it is not 0, then writes
// image sectors 0-94 to disk sectors 0-94, except those in `left_alone`.
// -1 when every write succeeded, 0 when any failed.
int write_boot_area(BootAreaImage& image, std::int32_t fat_size, const BootSectorSet& left_alone = {});

// Copies the second FAT, sector by sector, over the first. -1 when every
// sector was read and written, 0 when any transfer failed.
int repair_fat(std::int32_t first_fat_start, std::int32_t second_fat_start);
