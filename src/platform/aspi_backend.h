// The seam below GetASPI32SupportInfo and SendASPI32Command. A backend
// answers the support query and executes request blocks; the exported
// functions (dispatch/aspi_dispatch.cpp) forward to the one that is
// installed. Without an explicit installation the backend is chosen on first
// use: outside Windows from the environment (ASPI_DISKS set selects virtual
// disks backed by image files, otherwise the machine's own SCSI devices are
// served; dispatch/backend_choice.cpp), on Windows from the machine (its
// WNASPI32.DLL; dispatch/backend_choice_windows.cpp).
#pragma once

#include <cstdint>
#include <memory>

#include "wnaspi32.h"

namespace platform {

class AspiBackend {
 public:
  virtual ~AspiBackend() = default;

  // The support word of GetASPI32SupportInfo.
  virtual std::uint32_t support_info() = 0;

  // Executes or queues one request. Must eventually store a non-zero
  // SRB_Status and call SRB_PostProc exactly once when it returns SS_PENDING
  // or SS_COMP; a refusal (any other value) posts nothing.
  virtual std::uint32_t send(SRB_ExecSCSICmd& srb) = 0;
};

// Makes `backend` the one the exported functions use, replacing any other.
// Passing nullptr returns to the choice from the environment.
void install_aspi_backend(std::unique_ptr<AspiBackend> backend);

// The backend the environment or, on Windows, the machine offers (see above).
std::unique_ptr<AspiBackend> make_backend_from_environment();

}  // namespace platform
