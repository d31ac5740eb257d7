// Judging and repairing the master boot record in sector 0 and its seven
// checksummed copies in sectors 1 to 7, all in the image.
#pragma once

#include <cstdint>

#include "bootarea/boot_area_image.h"

// Partition types that may hold the player's volume: FAT16 (0x06, 0x0E) and
// FAT32 (0x0B, 0x0C). The boot pair checks then insist on FAT32.
inline constexpr std::uint8_t ACCEPTED_PARTITION_TYPES[] = {0x06, 0x0B, 0x0C, 0x0E};

constexpr int MBR_ACCEPTED = 0;
constexpr int MBR_REJECTED = 1;

// Copies sector i (0-7) into work_sector and judges it: sector 0 must be
// signed, a copy must carry a valid sector checksum, and one of the four
// partition entries must have an accepted FAT type. The first such entry
// sets volume_start and counts one more accepted MBR. 0 = accepted, 1 =
// rejected.
int mbr_check_sector(const BootAreaImage& image, int i);

// After sector 0 was accepted: rewrites each of sectors 1-7 whose sum or
// stored checksum differs from the checksummed form of work_sector.
void refresh_mbr_copies(BootAreaImage& image);

// After a copy was accepted: writes work_sector, signed, into sector 0.
void restore_mbr(BootAreaImage& image);

// Writes a one-partition MBR into sector 0: type 0x0B from sector 63 to the
// end of a disk of `capacity` sectors (count clamped at 0 below 63 sectors).
void build_fresh_mbr(BootAreaImage& image, std::uint32_t capacity);

// Whether a fresh MBR may be built for a disk of this many sectors: the
// capacity must be known and leave room for a volume behind sector 63.
bool capacity_allows_fresh_mbr(std::uint32_t capacity);
