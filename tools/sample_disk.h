// A sample player disk held in memory as its non-zero sectors only, so that
// an image of several gigabytes is built and written in a moment.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mkdisk {

using Sector = std::array<std::uint8_t, 512>;

struct DiskOptions {
  std::uint32_t capacity = 11'695'320;  // sectors
  std::uint32_t fat_size = 0;           // 0: the size that fits the capacity
  bool removable = false;               // volume at sector 0, no partition table
  bool fat_sum_minus_one = false;       // shape the FATs so their FAT sum is -1
};

// Where things landed, for the damage that follows.
struct SampleDisk {
  std::uint32_t capacity = 0;
  std::uint32_t volume_start = 0;
  std::uint32_t fat_size = 0;
  std::uint32_t first_fat = 0;
  std::uint32_t second_fat = 0;
  std::map<std::uint64_t, Sector> sectors;

  Sector& at(std::uint64_t n);  // created zero on first use
  void zero(std::uint64_t n);
};

// The smallest FAT that holds an entry for every cluster of a FAT32 volume
// of `total` sectors: 8-sector clusters, 32 reserved sectors, 2 FATs.
std::uint32_t fitting_fat_size(std::uint32_t total);

SampleDisk build_sample_disk(const DiskOptions& options);

// Checksums of the copies: the 16-bit sum of unsigned bytes, stored
// big-endian in bytes 510 and 511 of the copy's last sector.
void store_sector_checksum(Sector& copy);
void store_pair_checksum(const Sector& boot, Sector& fsinfo);

// The FAT sum: bytes as signed values, 16-bit wrapping, read signed.
std::int32_t fat_sum(const SampleDisk& disk, std::uint32_t first, std::uint32_t count);

void put_le32(Sector& s, int offset, std::uint32_t value);
std::uint32_t get_le32(const Sector& s, int offset);

// Writes the image sparsely; false with a message on standard error.
bool write_image(const SampleDisk& disk, const std::string& path);

// Applies one named damage; false for an unknown name.
bool apply_damage(SampleDisk& disk, const std::string& name);
std::vector<std::string> damage_names();

}  // namespace mkdisk
