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
  // or SS_COMP. A refusal (any other value) may post nothing, as the backends
  // here do, or may post the block all the same, inside this call or later,
  // as some ASPI for Win32 layers do: the request layer waits a short grace
  // time for such a post and absorbs one that comes later still. Either way
  // the block is the request layer's again once posted, and the backend must
  // not touch it after the posting routine returns.
  virtual std::uint32_t send(SRB_ExecSCSICmd& srb) = 0;

  // The most 512-byte sectors one READ(10) to this target may move, 0 when
  // there is no such target. Asked by the read-ahead cache before its first
  // read of a target, so it may do some work once. The default is 64 KiB,
  // the transfer every ASPI adapter of the player's time accepts; a layer
  // that knows better says so. (Too large a figure costs no correctness: a
  // refused read-ahead falls back to the single sector that was asked for.)
  virtual std::uint32_t max_transfer_sectors(int host_adapter, int target_id) {
    (void)host_adapter;
    (void)target_id;
    return 128;
  }

  // The disk at this adapter and target (LUN 0), whose INQUIRY model text is
  // `model`, is the one the run reads and may write. Called once, before its
  // first READ(10): a backend that must keep the operating system away from
  // the disk does it here and holds it until the process ends.
  virtual void claim_target(int host_adapter, int target_id, const char* model) {
    (void)host_adapter;
    (void)target_id;
    (void)model;
  }

  // After the last write of a repair: what was written goes from any cache
  // to the medium. Called with no request under way.
  virtual void flush_writes() {}

  // The layer to look through when this one shows no supported disk, or
  // nullptr when there is none.
  virtual std::unique_ptr<AspiBackend> next_layer() { return nullptr; }
};

// Makes `backend` the one the exported functions use, replacing any other.
// Passing nullptr returns to the choice from the environment.
void install_aspi_backend(std::unique_ptr<AspiBackend> backend);

// The backend the environment or, on Windows, the machine offers (see above).
std::unique_ptr<AspiBackend> make_backend_from_environment();

}  // namespace platform
