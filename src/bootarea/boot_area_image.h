// The start of the player's disk, sectors 0 to 94, held in memory while it is
// judged and repaired. Image sector n is disk sector n.
//
// Partitioned layout (V = volume_start = 63):
//   0        MBR, signed 0x55 0xAA
//   1-7      MBR copies, each carrying the sector checksum in bytes 510-511
//   V, V+1   primary boot sector and FSInfo sector, signed
//   V+3,V+4  copy pair A, pair checksum in bytes 510-511 of V+4
//   V+6,V+7  signed copy pair (the FAT32 backup boot sector at 6)
//   V+9,V+10 copy pair B, pair checksum in bytes 510-511 of V+10
// With 32 reserved sectors the first FAT begins at 95, right after the image.
#pragma once

#include <bitset>
#include <cstdint>

constexpr int BOOT_AREA_SECTORS = 95;
constexpr int BOOT_AREA_SECTOR_SIZE = 512;
constexpr int BOOT_AREA_BYTES = BOOT_AREA_SECTORS * BOOT_AREA_SECTOR_SIZE;  // 48,640
constexpr int MBR_COPY_COUNT = 7;
constexpr std::int32_t PARTITIONED_VOLUME_START = 63;

struct BootAreaImage {
  std::uint8_t bytes[BOOT_AREA_BYTES];

  std::uint8_t* sector(int n) { return bytes + n * BOOT_AREA_SECTOR_SIZE; }
  const std::uint8_t* sector(int n) const { return bytes + n * BOOT_AREA_SECTOR_SIZE; }
};

// A set of image sectors, by number.
using BootSectorSet = std::bitset<BOOT_AREA_SECTORS>;

// True when sector n lies inside the image.
constexpr bool image_holds_sector(std::int64_t n) { return n >= 0 && n < BOOT_AREA_SECTORS; }

struct VolumeGeometry {
  std::int32_t volume_start = 0;     // sector of the volume's boot sector
  std::int32_t mbr_found_count = 0;  // MBR sectors accepted in this pass
};

extern VolumeGeometry volume_geometry;

// The working sectors that carry a check's sector to the refresh or restore
// that follows it: the MBR sector or boot sector examined last, and the
// FSInfo sector of the pair examined last.
extern std::uint8_t work_sector[BOOT_AREA_SECTOR_SIZE];
extern std::uint8_t fsinfo_work_sector[BOOT_AREA_SECTOR_SIZE];
