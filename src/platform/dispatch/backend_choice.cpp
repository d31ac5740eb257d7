// The stand-in layer's own settings, read from the environment: ASPI_DISKS
// chooses image disks over the machine's devices, TESSALY_READAHEAD=0 takes
// the read-ahead cache away from in front of either, ASPI_SUPPORT overrides
// the support word.
#include "platform/dispatch/backend_choice.h"

#include <cstdlib>
#include <iostream>
#include <string_view>

#include "platform/image/image_backend.h"
#include "platform/readahead/read_ahead_backend.h"
#include "platform/scsi_generic/scsi_generic_backend.h"
#include "platform/dispatch/support_override.h"

namespace platform {

namespace {

std::unique_ptr<AspiBackend> with_read_ahead(std::unique_ptr<AspiBackend> backend) {
  const char* setting = std::getenv("TESSALY_READAHEAD");
  if (setting != nullptr && std::string_view(setting) == "0") return backend;
  return make_read_ahead_backend(std::move(backend));
}

}  // namespace

std::unique_ptr<AspiBackend> make_backend_from_environment() {
  const char* disks = std::getenv("ASPI_DISKS");
  if (disks != nullptr) return with_read_ahead(make_image_backend(disks, std::cerr));
  return with_read_ahead(make_scsi_generic_backend());
}

std::uint32_t apply_support_override(std::uint32_t word) {
  std::uint32_t forced = 0;
  return parse_support_override(std::getenv("ASPI_SUPPORT"), forced, std::cerr) ? forced : word;
}

}  // namespace platform
