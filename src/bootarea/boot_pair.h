// Judging and repairing the FAT32 boot sector and FSInfo sector pairs at the
// volume start (slot 0) and their three copies (slots 3, 6 and 9).
#pragma once

#include <cstdint>

#include "bootarea/boot_area_image.h"

constexpr int PRIMARY_PAIR_SLOT = 0;
constexpr int COPY_PAIR_A_SLOT = 3;
constexpr int SIGNED_COPY_PAIR_SLOT = 6;
constexpr int COPY_PAIR_B_SLOT = 9;

// Results of boot_check_pair, in the order the tests are made.
constexpr int PAIR_VALID = 0;
constexpr int PAIR_BOOT_UNSIGNED = 1;      // also: sectors per cluster below 4
constexpr int PAIR_FSINFO_UNSIGNED = 2;
constexpr int PAIR_CHECKSUM_BAD = 3;
constexpr int PAIR_NOT_FAT32 = 4;
constexpr int PAIR_FAT16_FIELDS = 51;
constexpr int PAIR_CLUSTER_TOO_SMALL = 1;
constexpr int PAIR_OUTSIDE_IMAGE = 6;      // volume_start below 0 or above 84
constexpr int PAIR_NOT_A_SLOT = 7;         // slot other than 0, 3, 6 or 9

// Copies the pair at volume_start + slot into the working sectors and judges
// it. 0 = valid. When the volume's pairs (V to V+10) do not all lie inside
// the image, every pair is rejected without reading anything, and both
// working sectors are left zeroed.
int boot_check_pair(const BootAreaImage& image, int slot);

// After the primary pair was accepted: rewrites copy pairs A and B where their
// sums differ from the checksummed working pair.
void refresh_boot_copies(BootAreaImage& image);

// After a copy pair was accepted: writes the working pair, signed, over the
// primary pair.
void restore_boot_pair(BootAreaImage& image);

// Stores the FAT size into the primary boot sector and marks the primary
// FSInfo free-cluster count unknown (0xFFFFFFFF). Changes nothing when the
// pair lies outside the image.
void set_fat_size(BootAreaImage& image, std::int32_t fat_size);
