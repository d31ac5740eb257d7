// Where the player's FAT32 volume keeps its clusters, as the directory walk
// needs it. The boot sector gives the cluster size and the root folder's
// first cluster; the FAT search gives the size of one FAT, so the data area
// begins behind the second FAT at first FAT + 2 x FAT size.
#pragma once

#include <cstdint>

constexpr std::uint32_t FAT_ENTRIES_PER_SECTOR = 128;  // 4-byte entries in a 512-byte sector
constexpr std::uint32_t FILE_SECTOR_SIZE = 512;

struct FileVolume {
  std::int64_t first_fat = 0;
  std::int64_t second_fat = 0;
  std::int64_t fat_size = 0;    // sectors of one FAT
  std::int64_t data_start = 0;  // the sector of cluster 2
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t root_cluster = 0;
  std::uint32_t last_cluster = 0;  // the highest cluster number of the data area

  bool holds_cluster(std::uint32_t cluster) const { return cluster >= 2 && cluster <= last_cluster; }
  std::int64_t cluster_sector(std::uint32_t cluster) const {
    return data_start + static_cast<std::int64_t>(cluster - 2) * sectors_per_cluster;
  }
  std::uint32_t cluster_bytes() const { return sectors_per_cluster * FILE_SECTOR_SIZE; }
};

// Fills `volume` from the judged boot sector, the FATs found at `first_fat`
// and `first_fat` + `fat_size`, and the disk's capacity (0: unknown).
// nullptr when they describe a volume whose folders can be walked; else,
// in words for the user, why not.
const char* describe_file_volume(const std::uint8_t* boot_sector, std::int64_t boot_sector_number,
                                 std::int64_t first_fat, std::int64_t fat_size, std::uint32_t capacity,
                                 FileVolume& volume);
