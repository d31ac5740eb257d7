// Fuzzes the boot area assessment. An input is a boot area image (48,640
// bytes, zero-padded when shorter) followed by the disk capacity (4 bytes,
// little-endian, 0 when missing). Any status outside the eleven outcomes, a
// write to a sector the outcome does not allow, a wrong fresh MBR or
// template, or a rebuilt MBR that does not settle in two more runs aborts.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot_area_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static BootAreaImage image;
  std::memset(image.bytes, 0, sizeof image.bytes);
  std::size_t image_bytes = size < sizeof image.bytes ? size : sizeof image.bytes;
  std::memcpy(image.bytes, data, image_bytes);
  std::uint32_t capacity = 0;
  for (std::size_t k = 0; k < 4 && image_bytes + k < size; ++k) {
    capacity |= static_cast<std::uint32_t>(data[image_bytes + k]) << (8 * k);
  }
  volume_geometry = VolumeGeometry{};
  std::string fault = invariants::assess_and_check(image, capacity);
  if (!fault.empty()) {
    std::fprintf(stderr, "boot area invariant broken: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
