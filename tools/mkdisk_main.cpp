// tessaly-mkdisk: writes a sparse sample image of the player's disk.
//
//   tessaly-mkdisk IMAGE [--capacity N] [--fat-size N] [--damage NAME]...
//
// The sound disk is partitioned: MBR and seven checksummed copies, the FAT32
// volume at sector 63 with its boot pair, copy pairs A (66/67) and B (72/73)
// and the signed backup pair (69/70), FAT1 at 95 and FAT2 right behind it, a
// root directory with a volume label and two files. "--damage removable"
// writes the unpartitioned layout instead (volume at sector 0) and
// "--damage fat-sum-minus-one" shapes both FATs to a FAT sum of -1; the other
// damages are applied to the finished disk in the order given.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sample_disk.h"

namespace {

void print_usage() {
  std::fprintf(stderr, "usage: tessaly-mkdisk IMAGE [--capacity SECTORS] [--fat-size SECTORS] [--damage NAME]...\n");
  std::fprintf(stderr, "damage names: removable fat-sum-minus-one");
  for (const std::string& name : mkdisk::damage_names()) std::fprintf(stderr, " %s", name.c_str());
  std::fprintf(stderr, "\n");
}

bool parse_count(const char* text, std::uint32_t& value) {
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 0);
  if (end == text || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(parsed);
  return true;
}

struct Request {
  std::string path;
  mkdisk::DiskOptions options;
  std::vector<std::string> damages;
};

bool parse_arguments(int argc, char** argv, Request& request) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--capacity" && has_value) {
      if (!parse_count(argv[++i], request.options.capacity)) return false;
    } else if (arg == "--fat-size" && has_value) {
      if (!parse_count(argv[++i], request.options.fat_size)) return false;
    } else if (arg == "--damage" && has_value) {
      const std::string name = argv[++i];
      if (name == "removable") request.options.removable = true;
      else if (name == "fat-sum-minus-one") request.options.fat_sum_minus_one = true;
      else request.damages.push_back(name);
    } else if (request.path.empty() && arg[0] != '-') {
      request.path = arg;
    } else {
      return false;
    }
  }
  return !request.path.empty();
}

// The volume must hold its reserved sectors, both FATs and a few clusters.
bool layout_fits(const mkdisk::SampleDisk& disk) {
  const std::uint64_t data_start = disk.first_fat + 2ull * disk.fat_size;
  return disk.fat_size >= 4 && data_start + 0x200ull * 8 < disk.capacity;
}

}  // namespace

int main(int argc, char** argv) {
  Request request;
  if (!parse_arguments(argc, argv, request)) {
    print_usage();
    return 2;
  }
  if (request.options.capacity < 20000) {
    std::fprintf(stderr, "tessaly-mkdisk: a capacity of at least 20000 sectors is needed\n");
    return 2;
  }
  mkdisk::SampleDisk disk = mkdisk::build_sample_disk(request.options);
  if (!layout_fits(disk)) {
    std::fprintf(stderr, "tessaly-mkdisk: the FATs do not fit this capacity\n");
    return 2;
  }
  for (const std::string& name : request.damages) {
    if (!mkdisk::apply_damage(disk, name)) {
      std::fprintf(stderr, "tessaly-mkdisk: unknown damage '%s'\n", name.c_str());
      print_usage();
      return 2;
    }
  }
  if (!mkdisk::write_image(disk, request.path)) return 1;
  std::printf("%s: %u sectors, volume at %u, FAT size %u, FAT1 at %u, FAT2 at %u\n", request.path.c_str(),
              disk.capacity, disk.volume_start, disk.fat_size, disk.first_fat, disk.second_fat);
  return 0;
}
