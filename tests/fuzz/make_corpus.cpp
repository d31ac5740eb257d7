// Writes the fuzzer's starting corpus into the folder given: boot areas that
// reach each kind of outcome, each followed by the player's capacity.
#include <cstdio>
#include <cstring>
#include <string>

#include "boot_area_fixture.h"

namespace {

bool write_input(const std::string& folder, const char* name, const BootAreaImage& image,
                std::uint32_t capacity) {
  std::string path = folder + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::uint8_t tail[4];
  for (int k = 0; k < 4; ++k) tail[k] = static_cast<std::uint8_t>(capacity >> (8 * k));
  bool ok = std::fwrite(image.bytes, sizeof image.bytes, 1, file) == 1 &&
            std::fwrite(tail, sizeof tail, 1, file) == 1;
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const std::uint32_t capacity = fixture::PLAYER_CAPACITY;
  static BootAreaImage image;
  bool ok = true;

  fixture::make_partitioned(image);
  ok &= write_input(folder, "sound", image, capacity);
  image.sector(0)[510] = 0;
  image.sector(63)[510] = 0;
  ok &= write_input(folder, "both-restored", image, capacity);
  for (int n : {66, 69, 72}) image.sector(n)[82] = 'X';
  ok &= write_input(folder, "no-pair", image, capacity);

  fixture::make_partitioned(image);
  std::memset(image.sector(0), 0, 8 * 512);
  image.sector(63)[511] = 0;
  ok &= write_input(folder, "no-mbr", image, capacity);

  fixture::make_partitioned(image);
  fixture::make_mbr(image.sector(0), 1, 0x0C, 20);
  fixture::write_mbr_copies(image);
  fixture::write_volume(image, 20);
  ok &= write_input(folder, "volume-at-20", image, capacity);

  // Volumes at the edges of the image: wholly inside at 84, partly outside
  // at 85 and at -3, with every pair that fits in the image in place.
  for (std::int32_t start : {84, 85, -3}) {
    fixture::fill_pattern(image);
    fixture::make_mbr(image.sector(0), 0, 0x0B, static_cast<std::uint32_t>(start));
    fixture::write_mbr_copies(image);
    fixture::write_volume(image, start);  // below 0 this overwrites sectors 0 and 1
    std::string name = "volume-at-" + std::to_string(start);
    ok &= write_input(folder, name.c_str(), image, capacity);
  }

  fixture::make_unpartitioned(image);
  ok &= write_input(folder, "unpartitioned", image, 0);

  std::memset(image.bytes, 0, sizeof image.bytes);
  ok &= write_input(folder, "zero", image, capacity);
  return ok ? 0 : 1;
}
