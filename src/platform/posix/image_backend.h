// The ASPI layer of the image disks: up to 8 targets on each of up to 255
// host adapters, every target an image file (see image_disks_config.h).
#pragma once

#include <iosfwd>
#include <memory>
#include <string_view>

#include "platform/aspi_backend.h"

namespace platform {

// Delay between SendASPI32Command and the posting of an "async" disk.
constexpr int IMAGE_ASYNC_DELAY_MS = 3;

// Builds the layer from its settings text. Malformed entries and images that
// cannot be opened cost one line each on `errors` and are left out; the rest
// are served.
std::unique_ptr<AspiBackend> make_image_backend(std::string_view settings, std::ostream& errors);

}  // namespace platform
