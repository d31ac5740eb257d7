// The ASPI layer of the image disks: up to 8 targets on each of up to 255
// host adapters, every target an image file (see image_disks_config.h).
#pragma once

#include <iosfwd>
#include <memory>
#include <string_view>

#include "platform/aspi_backend.h"

namespace platform {

// Delay between SendASPI32Command and the posting of an "async" disk: long
// enough for the requester to find its request still pending and go to its
// 1 ms sleep, short enough that each request costs about one such sleep (a
// run of some 30,000 requests then takes about half a minute).
constexpr int IMAGE_ASYNC_DELAY_US = 200;

// Builds the layer from its settings text. Malformed entries and images that
// cannot be opened cost one line each on `errors` and are left out; the rest
// are served.
std::unique_ptr<AspiBackend> make_image_backend(std::string_view settings, std::ostream& errors);

}  // namespace platform
