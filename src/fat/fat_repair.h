// The only two operations that write to the player's disk. Both write only
// what a repair changes: a sector that already holds what it would be given
// is left as it is, so that a repair costs about what a check costs and an
// old disk is spared needless writes.
#pragma once

#include <cstdint>
#include <vector>

#include "bootarea/boot_area_image.h"

// The image sectors write_boot_area writes: those that differ from
// `as_read`, the disk's sectors as read at the start of the run (all of
// them when `as_read` is nullptr), less `left_alone`, the unreadable sectors
// that the judging gave no new content (the image holds only what the
// failed read left there).
BootSectorSet boot_sectors_to_write(const BootAreaImage& image, const BootAreaImage* as_read,
                                    const BootSectorSet& left_alone);

// Stores `fat_size` into the image's boot pair when it is not 0, then writes
// the image sectors boot_sectors_to_write names to their disk sectors, in
// increasing order. -1 when every write succeeded, 0 when any failed. Once
// the drive has gone away (disk_transfers) nothing more is tried, and the
// result is 0.
int write_boot_area(BootAreaImage& image, std::int32_t fat_size, const BootAreaImage* as_read = nullptr,
                    const BootSectorSet& left_alone = {});

// The FAT sectors (from 0) whose first-FAT copy goes over the second's
// instead of the other way round: where the second FAT's copy would break
// a file that the first keeps. Empty: the second FAT is copied whole.
using FirstFatKept = std::vector<bool>;

// Copies the second FAT, sector by sector, over the first: each sector of
// the second FAT is read, and its twin in the first is written unless it
// already holds the same bytes (as the check saw them, by the fingerprints
// of the search and the sum, or as a quiet read of the twin shows). Where
// `first_kept` says so, the first FAT's sector is read and goes over its
// twin in the second instead. -1 when every sector was read and every
// needed write made, 0 when any failed or the drive went away, which ends
// the copy at once.
int repair_fat(std::int32_t first_fat_start, std::int32_t second_fat_start, const FirstFatKept& first_kept = {});

// Whether sector `index` of the FAT goes from the first FAT to the second.
inline bool first_fat_kept(const FirstFatKept& first_kept, std::int64_t index) {
  return index >= 0 && static_cast<std::size_t>(index) < first_kept.size() && first_kept[static_cast<std::size_t>(index)];
}
