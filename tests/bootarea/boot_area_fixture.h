// Builders of boot areas for the tests and the fuzz corpus. They compute
// sums and place fields on their own, without the code under test, so a
// wrong rule there cannot hide behind the same rule here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bootarea/boot_area_image.h"

namespace fixture {

constexpr std::uint32_t PLAYER_CAPACITY = 11695320;

std::uint16_t byte_sum(const std::uint8_t* bytes, std::size_t count);

void sign(std::uint8_t* sector);                                  // 55 AA at 510
void put_sum(std::uint8_t* sector, std::uint16_t value);          // big-endian at 510
void checksum_mbr_copy(std::uint8_t* sector);                     // sum of 0-509
void checksum_pair_copy(std::uint8_t* boot, std::uint8_t* fsinfo);  // boot 512 + fsinfo 0-509

// A signed MBR whose entry `entry` (0-3) has this type and first sector.
void make_mbr(std::uint8_t* sector, int entry, std::uint8_t type, std::uint32_t first);
// A signed FAT32 boot sector (not the template: tests tell the two apart).
void make_boot_sector(std::uint8_t* sector);
void make_fsinfo(std::uint8_t* sector);

// Sector 0's MBR copied, checksummed, into sectors 1-7.
void write_mbr_copies(BootAreaImage& image);
// The primary pair at V and its three copies at V+3, V+6 and V+9; pairs
// that would reach outside the image are left out.
void write_volume(BootAreaImage& image, std::int64_t volume_start);

// Every sector gets a pattern of its own, so that any unexpected write shows.
void fill_pattern(BootAreaImage& image);
// Sound partitioned disk: MBR (type 0x0C from 63) with copies, volume at 63.
void make_partitioned(BootAreaImage& image);
// Sound unpartitioned disk: the volume at sector 0, no MBR.
void make_unpartitioned(BootAreaImage& image);

// Sector numbers whose contents differ between two images.
std::vector<int> changed_sectors(const BootAreaImage& before, const BootAreaImage& after);

}  // namespace fixture
