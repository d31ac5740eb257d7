#include "files/file_volume.h"

#include <algorithm>

#include "bootarea/bpb_fields.h"
#include "bootarea/little_endian.h"

namespace {

// FAT32 keeps cluster numbers in 28 bits; 0x0FFFFFF7 and above are marks.
constexpr std::uint32_t HIGHEST_CLUSTER_NUMBER = 0x0FFFFFF6;
constexpr int ROOT_CLUSTER_FIELD = 44;  // FAT32 extension of the boot sector

bool power_of_two_up_to_128(std::uint32_t n) { return n >= 1 && n <= 128 && (n & (n - 1)) == 0; }

}  // namespace

const char* describe_file_volume(const std::uint8_t* boot_sector, std::int64_t boot_sector_number,
                                 std::int64_t first_fat, std::int64_t fat_size, std::uint32_t capacity,
                                 FileVolume& volume) {
  volume = FileVolume{};
  if (read_le16(boot_sector + bpb::BYTES_PER_SECTOR) != FILE_SECTOR_SIZE) {
    return "the boot sector does not give sectors of 512 bytes";
  }
  const std::uint32_t per_cluster = boot_sector[bpb::SECTORS_PER_CLUSTER];
  if (!power_of_two_up_to_128(per_cluster)) return "the boot sector gives no usable cluster size";
  if (fat_size <= 0) return "the FAT found has no size";
  volume.first_fat = first_fat;
  volume.second_fat = first_fat + fat_size;
  volume.fat_size = fat_size;
  volume.data_start = first_fat + 2 * fat_size;
  volume.sectors_per_cluster = per_cluster;
  volume.root_cluster = read_le32(boot_sector + ROOT_CLUSTER_FIELD) & 0x0FFFFFFF;
  // The data area ends where the volume ends, or the disk if sooner.
  std::int64_t end = boot_sector_number + read_le32(boot_sector + bpb::TOTAL_SECTORS_32);
  if (capacity != 0) end = std::min<std::int64_t>(end, capacity);
  if (end <= volume.data_start) return "the volume ends before its data area";
  const std::int64_t clusters = (end - volume.data_start) / per_cluster;
  const std::int64_t entries = fat_size * FAT_ENTRIES_PER_SECTOR;
  volume.last_cluster = static_cast<std::uint32_t>(
      std::min<std::int64_t>({clusters + 1, entries - 1, HIGHEST_CLUSTER_NUMBER}));
  if (!volume.holds_cluster(volume.root_cluster)) return "the boot sector's root folder lies outside the volume";
  return nullptr;
}
