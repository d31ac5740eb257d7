#include "bootarea/foreign_layout.h"

#include <cstring>

#include "bootarea/boot_area_image.h"
#include "bootarea/bpb_fields.h"
#include "bootarea/checksum.h"
#include "bootarea/little_endian.h"

namespace {

using namespace bpb;

// The player's boot checks take no cluster of fewer sectors.
constexpr unsigned PLAYER_MIN_SECTORS_PER_CLUSTER = 4;
// The FAT type follows from the cluster count alone: below 4085 clusters a
// FAT has 12-bit entries.
constexpr std::uint32_t FAT12_CLUSTER_LIMIT = 4085;

bool names_itself(const std::uint8_t* boot, const char* name) {
  return std::memcmp(boot + OEM_NAME, name, 8) == 0;
}

// A BIOS parameter block of 512-byte sectors, clusters of 2^n sectors and at
// least one reserved sector and one FAT: what every FAT formatter writes,
// and what an MBR's code or an empty sector hardly ever holds.
bool plausible_fat_parameters(const std::uint8_t* boot) {
  const unsigned per_cluster = boot[SECTORS_PER_CLUSTER];
  return read_le16(boot + BYTES_PER_SECTOR) == BOOT_AREA_SECTOR_SIZE && per_cluster != 0 &&
         (per_cluster & (per_cluster - 1)) == 0 && read_le16(boot + RESERVED_SECTORS) != 0 &&
         boot[NUMBER_OF_FATS] != 0;
}

// FAT12 or FAT16 by the clusters of its data area.
std::string small_fat_kind(const std::uint8_t* boot) {
  const std::uint32_t total = read_le16(boot + TOTAL_SECTORS_16) != 0 ? read_le16(boot + TOTAL_SECTORS_16)
                                                                      : read_le32(boot + TOTAL_SECTORS_32);
  const std::uint32_t root_sectors = (read_le16(boot + ROOT_ENTRY_COUNT) * 32u + 511u) / 512u;
  const std::uint64_t overhead = read_le16(boot + RESERVED_SECTORS) +
                                 std::uint64_t{boot[NUMBER_OF_FATS]} * read_le16(boot + FAT_SIZE_16) + root_sectors;
  const std::uint64_t data = total > overhead ? total - overhead : 0;
  return data / boot[SECTORS_PER_CLUSTER] < FAT12_CLUSTER_LIMIT ? "FAT12 volume" : "FAT16 volume";
}

std::string fat32_refusal(const std::uint8_t* boot) {
  const unsigned per_cluster = boot[SECTORS_PER_CLUSTER];
  if (per_cluster >= PLAYER_MIN_SECTORS_PER_CLUSTER) return {};
  return "FAT32 volume with " + std::to_string(per_cluster) + (per_cluster == 1 ? " sector" : " sectors") +
         " per cluster";
}

}  // namespace

bool guid_partition_header(const std::uint8_t* sector) { return std::memcmp(sector, "EFI PART", 8) == 0; }

bool volume_boot_sector(const std::uint8_t* sector) {
  if (!has_boot_signature(sector)) return false;
  if (names_itself(sector, "EXFAT   ") || names_itself(sector, "NTFS    ")) return true;
  return plausible_fat_parameters(sector) &&
         (read_le16(sector + FAT_SIZE_16) != 0 || read_le32(sector + FAT_SIZE_32) != 0);
}

std::string foreign_volume_kind(const std::uint8_t* boot) {
  if (!has_boot_signature(boot)) return {};
  if (names_itself(boot, "EXFAT   ")) return "exFAT volume";
  if (names_itself(boot, "NTFS    ")) return "NTFS volume";
  if (!plausible_fat_parameters(boot)) return {};
  if (read_le16(boot + FAT_SIZE_16) != 0) return small_fat_kind(boot);
  if (read_le32(boot + FAT_SIZE_32) != 0) return fat32_refusal(boot);
  return {};
}
