// Named damage for a sample disk. Each one leaves the disk as a player's disk
// is found after a particular mishap, so that every outcome of the boot area
// judgement and of the FAT check can be met on purpose.
#include <cstring>
#include <functional>
#include <utility>

#include "sample_disk.h"

namespace mkdisk {

namespace {

constexpr int MBR_ENTRY1_FIRST_SECTOR = 446 + 8;
constexpr std::uint32_t ELSEWHERE_VOLUME_START = 2048;
constexpr int BPB_RESERVED_SECTORS = 14;
constexpr int BPB_FAT_SIZE_32 = 36;
constexpr std::uint32_t WIDER_RESERVED_AREA = 40;
constexpr std::uint32_t MEDIA_ENTRY = 0x0FFFFFF8;  // also a valid end-of-chain value
// A cluster whose FAT entry opens FAT sector 100 (disk sector 195 of FAT1),
// past the sectors where free runs do not count; the FAT must be larger.
constexpr std::uint32_t OPENING_CLUSTER = 100 * 128;

void zero_range(SampleDisk& disk, std::uint64_t first, std::uint64_t last) {
  for (std::uint64_t n = first; n <= last; ++n) disk.zero(n);
}

// Sector 0 wiped; the seven checksummed copies survive.
void damage_mbr(SampleDisk& disk) { disk.zero(0); }

// Sector 0 and its first copy wiped; copy 2 is the first good one.
void damage_mbr_and_copy1(SampleDisk& disk) { zero_range(disk, 0, 1); }

// No MBR and no copy left.
void damage_mbr_all(SampleDisk& disk) { zero_range(disk, 0, 7); }

// The primary boot sector wiped; its three copies survive.
void damage_bpb(SampleDisk& disk) { disk.zero(disk.volume_start); }

// The primary pair and every copy pair wiped.
void damage_bpb_all(SampleDisk& disk) {
  for (std::uint64_t slot : {0u, 3u, 6u, 9u}) zero_range(disk, disk.volume_start + slot, disk.volume_start + slot + 1);
}

// A partition table (and its copies) that points at another volume start,
// where no boot pair lies.
void damage_partition_elsewhere(SampleDisk& disk) {
  for (std::uint64_t n = 0; n <= 7; ++n) {
    if (!disk.sectors.count(n)) continue;
    Sector& s = disk.at(n);
    put_le32(s, MBR_ENTRY1_FIRST_SECTOR, ELSEWHERE_VOLUME_START);
    if (n > 0) store_sector_checksum(s);
  }
}

// One MBR copy with a changed byte and no fitting checksum, and copy pair B
// self-consistent but with another free-cluster count than the primary pair.
void damage_stale_copies(SampleDisk& disk) {
  disk.at(2)[0x1B8] ^= 0x5A;
  const std::uint64_t b = disk.volume_start + 9;
  Sector& fsinfo = disk.at(b + 1);
  put_le32(fsinfo, 488, get_le32(fsinfo, 488) - 17);
  store_pair_checksum(disk.at(b), fsinfo);
}

// The pairs rewritten after a change of the boot sector: the copies take it
// over, the checksummed ones with a fitting checksum.
void spread_boot_sector(SampleDisk& disk) {
  const std::uint64_t v = disk.volume_start;
  for (std::uint64_t slot : {3u, 6u, 9u}) disk.at(v + slot) = disk.at(v);
  for (std::uint64_t slot : {3u, 9u}) store_pair_checksum(disk.at(v + slot), disk.at(v + slot + 1));
}

// A sound volume formatted with 40 reserved sectors: the boot sector and its
// copies say so, and both FATs and the data lie 8 sectors further on than on
// the player's own layout.
void damage_reserved_40(SampleDisk& disk) {
  const std::uint32_t shift = WIDER_RESERVED_AREA - 32;
  std::map<std::uint64_t, Sector> moved;
  for (const auto& [n, sector] : disk.sectors) moved[n >= disk.first_fat ? n + shift : n] = sector;
  disk.sectors = std::move(moved);
  disk.first_fat += shift;
  disk.second_fat += shift;
  Sector& boot = disk.at(disk.volume_start);
  boot[BPB_RESERVED_SECTORS] = static_cast<std::uint8_t>(WIDER_RESERVED_AREA);
  spread_boot_sector(disk);
}

// A sound volume with a one-cluster file whose only entry, its end of chain
// stored as 0x0FFFFFF8, opens a FAT sector that follows a wholly free one.
void damage_end_of_chain_first(SampleDisk& disk) {
  for (std::uint32_t fat : {disk.first_fat, disk.second_fat}) {
    put_le32(disk.at(fat + OPENING_CLUSTER / 128), 0, MEDIA_ENTRY);
  }
  const std::uint64_t data = disk.first_fat + 2ull * disk.fat_size + (OPENING_CLUSTER - 2ull) * 8;
  const std::uint64_t root = disk.first_fat + 2ull * disk.fat_size;
  Sector& dir = disk.at(root);
  const int at = 4 * 32;
  std::memcpy(dir.data() + at, "LAST    BIN", 11);
  dir[at + 11] = 0x20;
  dir[at + 20] = static_cast<std::uint8_t>(OPENING_CLUSTER >> 16);
  dir[at + 21] = static_cast<std::uint8_t>(OPENING_CLUSTER >> 24);
  dir[at + 26] = static_cast<std::uint8_t>(OPENING_CLUSTER);
  dir[at + 27] = static_cast<std::uint8_t>(OPENING_CLUSTER >> 8);
  put_le32(dir, at + 28, 5);
  std::memcpy(disk.at(data).data(), "last\n", 5);
}

// The primary boot sector says the FAT is half as large as it is; the FATs
// themselves and the copies are sound.
void damage_fat_size_field(SampleDisk& disk) {
  put_le32(disk.at(disk.volume_start), BPB_FAT_SIZE_32, disk.fat_size / 2);
}

// A lost cluster marked in use in the first FAT only.
void damage_fat_differ(SampleDisk& disk) {
  Sector& s = disk.at(disk.first_fat);
  put_le32(s, 9 * 4, 0x0FFFFFFF);
}

// The song's chain lost in the second FAT only (its four entries freed): the
// first FAT is the sound copy of that sector.
void damage_fat2_chain(SampleDisk& disk) {
  Sector& s = disk.at(disk.second_fat);
  for (int cluster = 4; cluster <= 7; ++cluster) put_le32(s, cluster * 4, 0);
}

// Stray writes all over the first FAT: every one of its sectors but the last
// marks a lost cluster of its own, in FAT1 only, so that the FATs differ in
// all those sectors and a repair copies every one. The last stays free, as
// the end of a FAT is, so that the second FAT is still found behind it.
void damage_fat_differ_many(SampleDisk& disk) {
  for (std::uint32_t i = 0; i + 1 < disk.fat_size; ++i) put_le32(disk.at(disk.first_fat + i), 9 * 4, 0x0FFFFFFF);
}

// Neither FAT begins with its media entry any more.
void damage_fat_signatures(SampleDisk& disk) {
  for (std::uint32_t start : {disk.first_fat, disk.second_fat}) put_le32(disk.at(start), 0, 0);
}

const std::vector<std::pair<std::string, std::function<void(SampleDisk&)>>>& damages() {
  static const std::vector<std::pair<std::string, std::function<void(SampleDisk&)>>> table = {
      {"mbr", damage_mbr},
      {"mbr-and-copy1", damage_mbr_and_copy1},
      {"mbr-all", damage_mbr_all},
      {"bpb", damage_bpb},
      {"bpb-all", damage_bpb_all},
      {"partition-elsewhere", damage_partition_elsewhere},
      {"stale-copies", damage_stale_copies},
      {"fat-differ", damage_fat_differ},
      {"fat2-chain", damage_fat2_chain},
      {"fat-differ-many", damage_fat_differ_many},
      {"fat-signatures", damage_fat_signatures},
      {"reserved-40", damage_reserved_40},
      {"end-of-chain-first", damage_end_of_chain_first},
      {"fat-size-field", damage_fat_size_field},
  };
  return table;
}

}  // namespace

bool apply_damage(SampleDisk& disk, const std::string& name) {
  for (const auto& [known, apply] : damages()) {
    if (known == name) {
      apply(disk);
      return true;
    }
  }
  return false;
}

std::vector<std::string> damage_names() {
  std::vector<std::string> names;
  for (const auto& entry : damages()) names.push_back(entry.first);
  return names;
}

}  // namespace mkdisk
