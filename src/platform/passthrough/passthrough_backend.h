// The backend that serves the machine's disks through the SCSI pass-through
// of Windows NT (WIN_IOCTL_SCSI_PASS_THROUGH_DIRECT), for every Windows from 2000
// on, which ships no ASPI layer: the Windows program falls back to it when no
// usable WNASPI32.DLL is found. It needs the rights of an administrator.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/aspi_backend.h"
#include "platform/passthrough/passthrough_io.h"

namespace platform {

class PassThroughBackend : public AspiBackend {
 public:
  // The largest READ(10)/WRITE(10) the disk at this adapter and target takes
  // in one command, in 512-byte sectors (0 when there is no such disk).
  // Longer requests are still served, split into commands of this size.
  std::uint32_t max_transfer_sectors(int host_adapter, int target) override = 0;
};

// The machine's own disks. TESSALY_PASSTHROUGH_DEVICES (paths joined by ";")
// replaces \\.\PhysicalDriveN with the listed paths, for tests; in that mode
// alone ASPI_SUPPORT forces the support word, as it does for the other test
// layers.
std::unique_ptr<AspiBackend> make_passthrough_backend();

namespace pt {
// The backend over a given system (env.io must be set).
std::unique_ptr<PassThroughBackend> make_backend(PtEnvironment env);

// The machine's own environment, as make_passthrough_backend uses it: the
// real Windows calls (Windows builds only).
PtEnvironment machine_environment();

// The environment of make_passthrough_backend, from the two settings' texts
// (nullptr when unset); messages go to standard error. The caller adds io.
PtEnvironment environment_from_settings(const char* listed_devices, const char* support_word);
}  // namespace pt

}  // namespace platform
