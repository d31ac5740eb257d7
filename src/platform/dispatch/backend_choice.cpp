// The stand-in layer's own settings, read from the environment: ASPI_DISKS
// chooses image disks over the machine's devices, ASPI_SUPPORT overrides the
// support word.
#include "platform/dispatch/backend_choice.h"

#include <cstdlib>
#include <iostream>

#include "platform/image/image_backend.h"
#include "platform/scsi_generic/scsi_generic_backend.h"
#include "platform/dispatch/support_override.h"

namespace platform {

std::unique_ptr<AspiBackend> make_backend_from_environment() {
  const char* disks = std::getenv("ASPI_DISKS");
  if (disks != nullptr) return make_image_backend(disks, std::cerr);
  return make_scsi_generic_backend();
}

std::uint32_t apply_support_override(std::uint32_t word) {
  std::uint32_t forced = 0;
  return parse_support_override(std::getenv("ASPI_SUPPORT"), forced, std::cerr) ? forced : word;
}

}  // namespace platform
