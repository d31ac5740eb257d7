// The undo journal of a confirmed repair, made before its first write.
#pragma once

#include <cstdint>

#include "bootarea/boot_area_image.h"
#include "fat/fat_repair.h"

// Saves what the repair is about to overwrite, and nothing else: the
// boot-area sectors it will write (as they were read from the disk) and,
// when `second_fat_start` is not 0, the FAT sectors that differ from their
// source in the other FAT (read afresh): the first FAT's, and the second's
// where `first_kept` sends the first FAT's sector there; each with the
// checksum of what will be written there. Stores `fat_size` into the image first when it is
// not 0, as the write-back does. True when the repair may go ahead: the
// journal is complete on disk (its name and the undo command are on standard
// error) or turned off; false after one line on standard error saying why
// no journal could be made, or when the drive went away while the journal's
// sectors were read, and then nothing may be written. Either way the
// sectors the repair sets out to write are counted in repair_plan.
bool journal_before_repair(BootAreaImage& image, std::int32_t fat_size, std::int32_t first_fat_start,
                           std::int32_t second_fat_start, const FirstFatKept& first_kept = {});
