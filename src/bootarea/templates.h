// The two sectors placed at the volume start when no usable boot pair exists:
// a FAT32 boot sector and FSInfo sector for the player's disk, 8-sector
// clusters and 32 reserved sectors. They are placed as stored.
#pragma once

#include <cstdint>

extern const std::uint8_t BOOT_SECTOR_TEMPLATE[512];
extern const std::uint8_t FSINFO_TEMPLATE[512];
