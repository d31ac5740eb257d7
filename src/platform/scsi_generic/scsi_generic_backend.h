// The backend that serves the machine's own SCSI disks through the Linux
// SCSI generic interface (SG_IO). It is chosen when no image disks are
// configured (ASPI_DISKS unset).
#pragma once

#include <memory>

#include "platform/aspi_backend.h"

namespace platform {

std::unique_ptr<AspiBackend> make_scsi_generic_backend();

}  // namespace platform
