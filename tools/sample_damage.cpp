// Named damage for a sample disk. Each one leaves the disk as a player's disk
// is found after a particular mishap, so that every outcome of the boot area
// judgement and of the FAT check can be met on purpose.
#include <functional>
#include <utility>

#include "sample_disk.h"

namespace mkdisk {

namespace {

constexpr int MBR_ENTRY1_FIRST_SECTOR = 446 + 8;
constexpr std::uint32_t ELSEWHERE_VOLUME_START = 2048;

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

// A lost cluster marked in use in the first FAT only.
void damage_fat_differ(SampleDisk& disk) {
  Sector& s = disk.at(disk.first_fat);
  put_le32(s, 9 * 4, 0x0FFFFFFF);
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
      {"fat-signatures", damage_fat_signatures},
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
