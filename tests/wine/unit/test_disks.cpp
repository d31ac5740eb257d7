#include "test_disks.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr const char* PLAYER_IMAGE = "win32_test_player.img";
constexpr const char* OTHER_IMAGE = "win32_test_other.img";

bool write_image(const char* path, bool patterned) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  std::vector<unsigned char> sector(512);
  bool ok = true;
  for (std::uint32_t n = 0; n < TEST_DISK_SECTORS && ok; ++n) {
    for (std::uint32_t i = 0; i < sector.size(); ++i) sector[i] = patterned ? pattern_byte(n, i) : 0;
    ok = std::fwrite(sector.data(), 1, sector.size(), file) == sector.size();
  }
  return std::fclose(file) == 0 && ok;
}

}  // namespace

std::uint8_t pattern_byte(std::uint32_t sector, std::uint32_t i) {
  return static_cast<std::uint8_t>(sector * 7 + i);
}

std::string player_image_path() { return PLAYER_IMAGE; }

bool make_test_disks() {
  if (!write_image(PLAYER_IMAGE, true) || !write_image(OTHER_IMAGE, false)) return false;
  const std::string disks = std::string(PLAYER_IMAGE) + ",id=" + std::to_string(PLAYER_TARGET) +
                            ",badread=" + std::to_string(BAD_READ_SECTOR) + ";" + OTHER_IMAGE +
                            ",ro,ha=" + std::to_string(OTHER_ADAPTER) + ",id=" + std::to_string(OTHER_TARGET) +
                            ",model=" + OTHER_MODEL;
  const std::string setting = "ASPI_DISKS=" + disks;
  return _putenv(setting.c_str()) == 0 && _putenv("ASPI_SUPPORT=") == 0;
}
