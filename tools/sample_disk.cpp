#include "sample_disk.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace mkdisk {

namespace {

constexpr std::uint32_t PARTITIONED_START = 63;
constexpr std::uint32_t RESERVED_SECTORS = 32;
constexpr std::uint32_t SECTORS_PER_CLUSTER = 8;
constexpr std::uint32_t END_OF_CHAIN = 0x0FFFFFFF;
constexpr std::uint32_t MEDIA_ENTRY = 0x0FFFFFF8;
constexpr std::uint32_t ROOT_CLUSTER = 2;

// Boot sector fields (FAT32 BPB offsets).
constexpr int BS_JUMP = 0;
constexpr int BS_OEM_NAME = 3;
constexpr int BPB_BYTES_PER_SECTOR = 11;
constexpr int BPB_SECTORS_PER_CLUSTER = 13;
constexpr int BPB_RESERVED_SECTORS = 14;
constexpr int BPB_FAT_COUNT = 16;
constexpr int BPB_MEDIA = 21;
constexpr int BPB_SECTORS_PER_TRACK = 24;
constexpr int BPB_HEADS = 26;
constexpr int BPB_HIDDEN_SECTORS = 28;
constexpr int BPB_TOTAL_SECTORS_32 = 32;
constexpr int BPB_FAT_SIZE_32 = 36;
constexpr int BPB_ROOT_CLUSTER = 44;
constexpr int BPB_FSINFO_SECTOR = 48;
constexpr int BPB_BACKUP_BOOT_SECTOR = 50;
constexpr int BS_DRIVE_NUMBER = 64;
constexpr int BS_BOOT_SIGNATURE = 66;
constexpr int BS_VOLUME_ID = 67;
constexpr int BS_VOLUME_LABEL = 71;
constexpr int BS_FILE_SYSTEM_TYPE = 82;
constexpr int BS_BOOT_CODE = 90;

// FSInfo fields.
constexpr int FSI_LEAD_SIGNATURE = 0;
constexpr int FSI_STRUCT_SIGNATURE = 484;
constexpr int FSI_FREE_COUNT = 488;
constexpr int FSI_NEXT_FREE = 492;

// MBR partition entry 1.
constexpr int MBR_ENTRY1 = 446;

void put_le16(Sector& s, int offset, std::uint16_t value) {
  s[offset] = static_cast<std::uint8_t>(value);
  s[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put_text(Sector& s, int offset, const char* text) { std::memcpy(s.data() + offset, text, std::strlen(text)); }

void sign(Sector& s) {
  s[510] = 0x55;
  s[511] = 0xAA;
}

bool all_zero(const Sector& s) {
  for (std::uint8_t b : s)
    if (b != 0) return false;
  return true;
}

Sector make_mbr(std::uint32_t capacity) {
  Sector s{};
  const std::uint8_t entry[8] = {0x00, 0x01, 0x01, 0x00, 0x0B, 0xFE, 0xFF, 0xFF};
  std::memcpy(s.data() + MBR_ENTRY1, entry, sizeof entry);
  put_le32(s, MBR_ENTRY1 + 8, PARTITIONED_START);
  put_le32(s, MBR_ENTRY1 + 12, capacity - PARTITIONED_START);
  sign(s);
  return s;
}

Sector make_boot_sector(const SampleDisk& disk) {
  Sector s{};
  const std::uint8_t jump[3] = {0xEB, 0x58, 0x90};
  std::memcpy(s.data() + BS_JUMP, jump, 3);
  put_text(s, BS_OEM_NAME, "TESSALY ");
  put_le16(s, BPB_BYTES_PER_SECTOR, 512);
  s[BPB_SECTORS_PER_CLUSTER] = SECTORS_PER_CLUSTER;
  put_le16(s, BPB_RESERVED_SECTORS, RESERVED_SECTORS);
  s[BPB_FAT_COUNT] = 2;
  s[BPB_MEDIA] = 0xF8;
  put_le16(s, BPB_SECTORS_PER_TRACK, 63);
  put_le16(s, BPB_HEADS, 255);
  put_le32(s, BPB_HIDDEN_SECTORS, disk.volume_start);
  put_le32(s, BPB_TOTAL_SECTORS_32, disk.capacity - disk.volume_start);
  put_le32(s, BPB_FAT_SIZE_32, disk.fat_size);
  put_le32(s, BPB_ROOT_CLUSTER, ROOT_CLUSTER);
  put_le16(s, BPB_FSINFO_SECTOR, 1);
  put_le16(s, BPB_BACKUP_BOOT_SECTOR, 6);
  s[BS_DRIVE_NUMBER] = 0x80;
  s[BS_BOOT_SIGNATURE] = 0x29;
  put_le32(s, BS_VOLUME_ID, 0x5A3C1E07);
  put_text(s, BS_VOLUME_LABEL, "PELLORA    ");
  put_text(s, BS_FILE_SYSTEM_TYPE, "FAT32   ");
  // Not a system disk: stop the processor if anyone boots it.
  const std::uint8_t halt[4] = {0xFA, 0xF4, 0xEB, 0xFD};
  std::memcpy(s.data() + BS_BOOT_CODE, halt, 4);
  put_text(s, BS_BOOT_CODE + 8, "Sample player disk - not a boot disk");
  sign(s);
  return s;
}

std::uint32_t cluster_count(const SampleDisk& disk) {
  const std::uint32_t total = disk.capacity - disk.volume_start;
  return (total - RESERVED_SECTORS - 2 * disk.fat_size) / SECTORS_PER_CLUSTER;
}

Sector make_fsinfo(std::uint32_t free_clusters, std::uint32_t next_free) {
  Sector s{};
  put_le32(s, FSI_LEAD_SIGNATURE, 0x41615252);
  put_le32(s, FSI_STRUCT_SIGNATURE, 0x61417272);
  put_le32(s, FSI_FREE_COUNT, free_clusters);
  put_le32(s, FSI_NEXT_FREE, next_free);
  sign(s);
  return s;
}

// The entries of both FATs, as (cluster, value) pairs.
struct Chains {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
  std::uint32_t used = 0;
  std::uint32_t next_free = 0;
};

void set_entry_in_fat(SampleDisk& disk, std::uint32_t fat_start, std::uint32_t cluster, std::uint32_t value) {
  Sector& s = disk.at(fat_start + cluster / 128);
  put_le32(s, (cluster % 128) * 4, value);
}

void set_entry(SampleDisk& disk, std::uint32_t cluster, std::uint32_t value) {
  set_entry_in_fat(disk, disk.first_fat, cluster, value);
  set_entry_in_fat(disk, disk.second_fat, cluster, value);
}

std::uint64_t cluster_sector(const SampleDisk& disk, std::uint32_t cluster) {
  return disk.first_fat + 2ull * disk.fat_size + (cluster - 2ull) * SECTORS_PER_CLUSTER;
}

void put_dir_entry(Sector& dir, int index, const char* name11, std::uint8_t attr, std::uint32_t cluster,
                   std::uint32_t size) {
  const int at = index * 32;
  std::memcpy(dir.data() + at, name11, 11);
  dir[at + 11] = attr;
  put_le16(dir, at + 20, static_cast<std::uint16_t>(cluster >> 16));
  put_le16(dir, at + 26, static_cast<std::uint16_t>(cluster));
  put_le32(dir, at + 28, size);
}

constexpr const char* README_TEXT = "A sample disk of a portable music player, made for tessaly.\r\n";

// Root directory in cluster 2, a one-cluster text file in 3 and a four-cluster
// song in 4-7, so that the FATs hold real chains.
void place_files(SampleDisk& disk, Chains& chains) {
  Sector& root = disk.at(cluster_sector(disk, ROOT_CLUSTER));
  put_dir_entry(root, 0, "PELLORA    ", 0x08, 0, 0);
  put_dir_entry(root, 1, "README  TXT", 0x20, 3, static_cast<std::uint32_t>(std::strlen(README_TEXT)));
  put_dir_entry(root, 2, "SONG01  MP3", 0x20, 4, 4 * 4096 - 100);
  put_text(disk.at(cluster_sector(disk, 3)), 0, README_TEXT);
  for (std::uint32_t c = 4; c <= 7; ++c) {
    Sector& data = disk.at(cluster_sector(disk, c));
    for (int i = 0; i < 512; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + c);
  }
  chains.entries = {{0, MEDIA_ENTRY}, {1, END_OF_CHAIN}, {2, END_OF_CHAIN}, {3, END_OF_CHAIN},
                    {4, 5},           {5, 6},            {6, 7},            {7, END_OF_CHAIN}};
  chains.used = 6;
  chains.next_free = 8;
}

std::int32_t signed_byte_sum(std::uint32_t value) {
  std::int32_t sum = 0;
  for (int i = 0; i < 4; ++i) sum += static_cast<std::int8_t>(value >> (8 * i));
  return sum;
}

// A two-cluster file in 8 and 0x1xx whose link entry is chosen so that the
// FAT sum of each FAT comes out at exactly -1: the value a failed read was
// once taken for.
void place_balancing_file(SampleDisk& disk, Chains& chains) {
  std::int32_t sum = signed_byte_sum(END_OF_CHAIN);
  for (const auto& entry : chains.entries) sum += signed_byte_sum(entry.second);
  const std::int32_t low = -1 - sum - 1;  // the link's bytes: low, 0x01, 0, 0
  const std::uint32_t link = 0x100u | static_cast<std::uint8_t>(static_cast<std::int8_t>(low));
  chains.entries.push_back({8, link});
  chains.entries.push_back({link, END_OF_CHAIN});
  chains.used += 2;
  chains.next_free = 9;
  Sector& root = disk.at(cluster_sector(disk, ROOT_CLUSTER));
  put_dir_entry(root, 3, "BALANCE BIN", 0x20, 8, 8192);
}

void place_boot_pairs(SampleDisk& disk, const Chains& chains) {
  const Sector boot = make_boot_sector(disk);
  const Sector fsinfo = make_fsinfo(cluster_count(disk) - chains.used, chains.next_free);
  const std::uint32_t v = disk.volume_start;
  disk.at(v) = boot;
  disk.at(v + 1) = fsinfo;
  disk.at(v + 6) = boot;
  disk.at(v + 7) = fsinfo;
  for (std::uint32_t slot : {3u, 9u}) {
    disk.at(v + slot) = boot;
    disk.at(v + slot + 1) = fsinfo;
    store_pair_checksum(disk.at(v + slot), disk.at(v + slot + 1));
  }
}

void place_mbr(SampleDisk& disk) {
  disk.at(0) = make_mbr(disk.capacity);
  for (int k = 1; k <= 7; ++k) {
    disk.at(k) = disk.at(0);
    store_sector_checksum(disk.at(k));
  }
}

std::uint16_t unsigned_sum(const std::uint8_t* bytes, int count) {
  std::uint16_t sum = 0;
  for (int i = 0; i < count; ++i) sum = static_cast<std::uint16_t>(sum + bytes[i]);
  return sum;
}

}  // namespace

Sector& SampleDisk::at(std::uint64_t n) { return sectors[n]; }

void SampleDisk::zero(std::uint64_t n) { sectors.erase(n); }

void put_le32(Sector& s, int offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) s[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_le32(const Sector& s, int offset) {
  return s[offset] | (s[offset + 1] << 8) | (s[offset + 2] << 16) | (static_cast<std::uint32_t>(s[offset + 3]) << 24);
}

std::uint32_t fitting_fat_size(std::uint32_t total) {
  std::uint32_t fat_size = 1;
  while (true) {
    const std::uint32_t clusters = (total - RESERVED_SECTORS - 2 * fat_size) / SECTORS_PER_CLUSTER;
    if (fat_size * 128ull >= clusters + 2ull) return fat_size;
    ++fat_size;
  }
}

void store_sector_checksum(Sector& copy) {
  const std::uint16_t sum = unsigned_sum(copy.data(), 510);
  copy[510] = static_cast<std::uint8_t>(sum >> 8);
  copy[511] = static_cast<std::uint8_t>(sum);
}

void store_pair_checksum(const Sector& boot, Sector& fsinfo) {
  const std::uint16_t sum = static_cast<std::uint16_t>(unsigned_sum(boot.data(), 512) + unsigned_sum(fsinfo.data(), 510));
  fsinfo[510] = static_cast<std::uint8_t>(sum >> 8);
  fsinfo[511] = static_cast<std::uint8_t>(sum);
}

std::int32_t fat_sum(const SampleDisk& disk, std::uint32_t first, std::uint32_t count) {
  std::uint16_t sum = 0;
  for (auto it = disk.sectors.lower_bound(first); it != disk.sectors.end() && it->first < first + count; ++it) {
    for (std::uint8_t b : it->second) sum = static_cast<std::uint16_t>(sum + static_cast<std::int8_t>(b));
  }
  return static_cast<std::int16_t>(sum);
}

SampleDisk build_sample_disk(const DiskOptions& options) {
  SampleDisk disk;
  disk.capacity = options.capacity;
  disk.volume_start = options.removable ? 0 : PARTITIONED_START;
  disk.fat_size = options.fat_size ? options.fat_size : fitting_fat_size(disk.capacity - disk.volume_start);
  disk.first_fat = disk.volume_start + RESERVED_SECTORS;
  disk.second_fat = disk.first_fat + disk.fat_size;
  Chains chains;
  place_files(disk, chains);
  if (options.fat_sum_minus_one) place_balancing_file(disk, chains);
  for (const auto& [cluster, value] : chains.entries) set_entry(disk, cluster, value);
  place_boot_pairs(disk, chains);
  if (!options.removable) place_mbr(disk);
  return disk;
}

bool write_image(const SampleDisk& disk, const std::string& path) {
  bool ok = true;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ok = static_cast<bool>(out);
    for (const auto& [n, sector] : disk.sectors) {
      if (!ok || n >= disk.capacity || all_zero(sector)) continue;
      out.seekp(static_cast<std::streamoff>(n * 512));
      out.write(reinterpret_cast<const char*>(sector.data()), 512);
      ok = static_cast<bool>(out);
    }
  }
  // The rest of the disk is a hole: zero without taking space.
  std::error_code error;
  if (ok) std::filesystem::resize_file(path, static_cast<std::uintmax_t>(disk.capacity) * 512, error);
  if (!ok || error) std::fprintf(stderr, "%s: cannot write the image\n", path.c_str());
  return ok && !error;
}

}  // namespace mkdisk
