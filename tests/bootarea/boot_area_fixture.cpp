#include "boot_area_fixture.h"

#include <cstring>

namespace fixture {

namespace {
constexpr int SECTOR = BOOT_AREA_SECTOR_SIZE;

void put_le32(std::uint8_t* at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) {
    at[k] = static_cast<std::uint8_t>(v >> (8 * k));
  }
}
}  // namespace

std::uint16_t byte_sum(const std::uint8_t* bytes, std::size_t count) {
  unsigned total = 0;
  for (std::size_t k = 0; k < count; ++k) {
    total += bytes[k];
  }
  return static_cast<std::uint16_t>(total % 65536);
}

void sign(std::uint8_t* sector) {
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

void put_sum(std::uint8_t* sector, std::uint16_t value) {
  sector[510] = static_cast<std::uint8_t>(value / 256);
  sector[511] = static_cast<std::uint8_t>(value % 256);
}

void checksum_mbr_copy(std::uint8_t* sector) {
  put_sum(sector, byte_sum(sector, 510));
}

void checksum_pair_copy(std::uint8_t* boot, std::uint8_t* fsinfo) {
  put_sum(fsinfo, static_cast<std::uint16_t>(byte_sum(boot, 512) + byte_sum(fsinfo, 510)));
}

void make_mbr(std::uint8_t* sector, int entry, std::uint8_t type, std::uint32_t first) {
  std::memset(sector, 0, SECTOR);
  for (int k = 0; k < 64; ++k) {
    sector[k] = static_cast<std::uint8_t>(0x30 + k);  // some boot code
  }
  std::uint8_t* e = sector + 446 + 16 * entry;
  e[0] = 0x80;
  e[4] = type;
  put_le32(e + 8, first);
  put_le32(e + 12, 1000000);
  sign(sector);
}

void make_boot_sector(std::uint8_t* sector) {
  std::memset(sector, 0, SECTOR);
  const std::uint8_t head[] = {0xEB, 0x58, 0x90, 'T', 'E', 'S', 'T', 'D', 'I', 'S', 'K'};
  std::memcpy(sector, head, sizeof head);
  sector[12] = 0x02;  // 512 bytes per sector
  sector[13] = 16;    // sectors per cluster
  sector[14] = 32;    // reserved
  sector[16] = 2;
  put_le32(sector + 36, 1234);
  std::memcpy(sector + 82, "FAT32   ", 8);
  for (int k = 90; k < 200; ++k) {
    sector[k] = static_cast<std::uint8_t>(k * 3);
  }
  sign(sector);
}

void make_fsinfo(std::uint8_t* sector) {
  std::memset(sector, 0, SECTOR);
  std::memcpy(sector, "RRaA", 4);
  std::memcpy(sector + 484, "rrAa", 4);
  put_le32(sector + 488, 777);
  put_le32(sector + 492, 5);
  sign(sector);
}

void write_mbr_copies(BootAreaImage& image) {
  for (int k = 1; k <= 7; ++k) {
    std::memcpy(image.sector(k), image.sector(0), SECTOR);
    checksum_mbr_copy(image.sector(k));
  }
}

void write_volume(BootAreaImage& image, std::int64_t v) {
  std::uint8_t boot[SECTOR];
  std::uint8_t fsinfo[SECTOR];
  make_boot_sector(boot);
  make_fsinfo(fsinfo);
  for (int slot : {0, 3, 6, 9}) {
    std::int64_t n = v + slot;
    if (n < 0 || n + 1 >= BOOT_AREA_SECTORS) continue;  // outside the image
    std::uint8_t* copy_boot = image.sector(static_cast<int>(n));
    std::uint8_t* copy_fsinfo = image.sector(static_cast<int>(n + 1));
    std::memcpy(copy_boot, boot, SECTOR);
    std::memcpy(copy_fsinfo, fsinfo, SECTOR);
    if (slot == 3 || slot == 9) checksum_pair_copy(copy_boot, copy_fsinfo);
  }
}

void fill_pattern(BootAreaImage& image) {
  for (int n = 0; n < BOOT_AREA_SECTORS; ++n) {
    for (int k = 0; k < SECTOR; ++k) {
      image.sector(n)[k] = static_cast<std::uint8_t>(n * 37 + k * 11 + 1);
    }
  }
}

void make_partitioned(BootAreaImage& image) {
  fill_pattern(image);
  make_mbr(image.sector(0), 0, 0x0C, 63);
  write_mbr_copies(image);
  write_volume(image, 63);
}

void make_unpartitioned(BootAreaImage& image) {
  fill_pattern(image);
  write_volume(image, 0);
}

std::vector<int> changed_sectors(const BootAreaImage& before, const BootAreaImage& after) {
  std::vector<int> changed;
  for (int n = 0; n < BOOT_AREA_SECTORS; ++n) {
    if (std::memcmp(before.sector(n), after.sector(n), SECTOR) != 0) {
      changed.push_back(n);
    }
  }
  return changed;
}

}  // namespace fixture
