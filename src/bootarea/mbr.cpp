// The master boot record in sector 0 and its seven copies in sectors 1-7.
// Sector 0 carries the 0x55 0xAA signature; each copy carries the sector
// checksum in its place. Of the partition table only the type byte and the
// first sector of each entry matter here: they say where the volume starts.
#include "bootarea/mbr.h"

#include <cstring>

#include "bootarea/checksum.h"
#include "bootarea/little_endian.h"

namespace {

constexpr int SECTOR_BYTES = BOOT_AREA_SECTOR_SIZE;
constexpr int MBR_SECTOR = 0;

// The partition table: four 16-byte entries from byte 446.
constexpr int PARTITION_TABLE = 446;
constexpr int PARTITION_ENTRY_SIZE = 16;
constexpr int PARTITION_ENTRY_COUNT = 4;
constexpr int ENTRY_STATUS = 0;
constexpr int ENTRY_START_CHS = 1;
constexpr int ENTRY_TYPE = 4;
constexpr int ENTRY_END_CHS = 5;
constexpr int ENTRY_FIRST_SECTOR = 8;
constexpr int ENTRY_SECTOR_COUNT = 12;

// The one partition of a fresh MBR: FAT32 (CHS-addressed type 0x0B) from
// sector 63, the first sector of the second track, to the end of the disk.
constexpr std::uint8_t FRESH_TYPE = 0x0B;
constexpr std::uint8_t FRESH_START_CHS[3] = {0x01, 0x01, 0x00};  // head 1, sector 1, cyl 0
constexpr std::uint8_t FRESH_END_CHS[3] = {0xFE, 0xFF, 0xFF};    // head 254, sector 63, cyl 1023
constexpr std::uint32_t FRESH_FIRST_SECTOR = PARTITIONED_VOLUME_START;

const std::uint8_t* partition_entry(const std::uint8_t* sector, int n) {
  return sector + PARTITION_TABLE + n * PARTITION_ENTRY_SIZE;
}

bool accepted_partition_type(std::uint8_t type) {
  for (std::uint8_t accepted : ACCEPTED_PARTITION_TYPES) {
    if (type == accepted) {
      return true;
    }
  }
  return false;
}

// Sector 0 is recognised by its signature, a copy by its checksum.
bool mbr_sector_marked(const std::uint8_t* sector, int i) {
  if (i == MBR_SECTOR) {
    return has_boot_signature(sector);
  }
  return checksum_holds(sector_checksum(sector), sector);
}

// The first entry with an accepted type, or -1.
int first_accepted_entry(const std::uint8_t* sector) {
  for (int n = 0; n < PARTITION_ENTRY_COUNT; ++n) {
    if (accepted_partition_type(partition_entry(sector, n)[ENTRY_TYPE])) {
      return n;
    }
  }
  return -1;
}

}  // namespace

int mbr_check_sector(const BootAreaImage& image, int i) {
  if (i < MBR_SECTOR || i > MBR_COPY_COUNT) {
    return MBR_REJECTED;
  }
  std::memcpy(work_sector, image.sector(i), SECTOR_BYTES);
  if (!mbr_sector_marked(work_sector, i)) {
    return MBR_REJECTED;
  }
  int entry = first_accepted_entry(work_sector);
  if (entry < 0) {
    return MBR_REJECTED;
  }
  // Any first sector is taken; one that puts the pairs outside the image is
  // caught by the pair checks.
  std::uint32_t first = read_le32(partition_entry(work_sector, entry) + ENTRY_FIRST_SECTOR);
  volume_geometry.volume_start = static_cast<std::int32_t>(first);
  volume_geometry.mbr_found_count += 1;
  return MBR_ACCEPTED;
}

// Copies are compared with sector 0 by their sums, not byte by byte: a copy
// whose own sum and stored checksum both equal sector 0's sum is kept.
void refresh_mbr_copies(BootAreaImage& image) {
  std::uint16_t sum = sector_checksum(work_sector).sum;
  store_checksum(work_sector, sum);
  for (int k = 1; k <= MBR_COPY_COUNT; ++k) {
    std::uint8_t* copy = image.sector(k);
    if (sector_checksum(copy).sum != sum || stored_checksum(copy) != sum) {
      std::memcpy(copy, work_sector, SECTOR_BYTES);
    }
  }
}

void restore_mbr(BootAreaImage& image) {
  set_boot_signature(work_sector);
  std::memcpy(image.sector(MBR_SECTOR), work_sector, SECTOR_BYTES);
}

// A capacity below 63 sectors (0 when the disk would not tell its size)
// leaves no room for the volume: the count stays 0 rather than wrapping to
// a huge value. Such an MBR is never written; see capacity_allows_fresh_mbr.
void build_fresh_mbr(BootAreaImage& image, std::uint32_t capacity) {
  std::uint8_t fresh[SECTOR_BYTES] = {};
  std::uint8_t* entry = fresh + PARTITION_TABLE;
  std::uint32_t count = capacity > FRESH_FIRST_SECTOR ? capacity - FRESH_FIRST_SECTOR : 0;
  entry[ENTRY_STATUS] = 0x00;
  std::memcpy(entry + ENTRY_START_CHS, FRESH_START_CHS, sizeof FRESH_START_CHS);
  entry[ENTRY_TYPE] = FRESH_TYPE;
  std::memcpy(entry + ENTRY_END_CHS, FRESH_END_CHS, sizeof FRESH_END_CHS);
  write_le32(entry + ENTRY_FIRST_SECTOR, FRESH_FIRST_SECTOR);
  write_le32(entry + ENTRY_SECTOR_COUNT, count);
  set_boot_signature(fresh);
  std::memcpy(image.sector(MBR_SECTOR), fresh, SECTOR_BYTES);
}

bool capacity_allows_fresh_mbr(std::uint32_t capacity) {
  return capacity > FRESH_FIRST_SECTOR;
}
