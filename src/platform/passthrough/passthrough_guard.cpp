#include "platform/passthrough/passthrough_guard.h"

#include <cstring>
#include <string>

#include "platform/common/scsi_commands.h"
#include "platform/passthrough/passthrough_disks.h"
#include "platform/passthrough/passthrough_request.h"
#include "platform/passthrough/passthrough_volumes.h"

namespace platform::pt {
namespace {

constexpr std::uint8_t INQUIRY_BYTES = 64;
constexpr std::size_t MODEL_LENGTH = 24;  // vendor and product

// Bytes 8-31 of the disk's INQUIRY data, up to a zero byte, as the request
// layer reads a model text.
bool answers_as(Win32Io& io, PtDisk& disk, const char* model) {
  std::uint8_t cdb[CDB6_SIZE] = {OP_INQUIRY};
  cdb[CDB_INQUIRY_ALLOCATION] = INQUIRY_BYTES;
  std::uint8_t data[INQUIRY_BYTES] = {};
  AlignedBuffer bounce;
  const PtCommand command{cdb, sizeof cdb, WIN_SCSI_IOCTL_DATA_IN, data, INQUIRY_BYTES};
  const PtResult result = execute_command(io, disk.handle, command, disk.alignment_mask, bounce);
  if (result.os_error != 0 || result.scsi_status != 0 || result.transferred < INQ_MODEL + MODEL_LENGTH) {
    return false;
  }
  const char* text = reinterpret_cast<const char*>(data + INQ_MODEL);
  return std::string(text, strnlen(text, MODEL_LENGTH)) == model;
}

bool at_target(const PtDisk& disk, int target_id) {
  return !disk.addressed || (disk.address.Lun == 0 && disk.address.TargetId == target_id);
}

void tell(const PtEnvironment& env, const std::string& line) {
  if (env.tell_user) env.tell_user(line);
}

}  // namespace

LayerDiskGuard guard_disk_behind_layer(const PtEnvironment& env, int target_id, const char* model) {
  LayerDiskGuard guard;
  if (!env.io->nt_family()) {
    guard.writable = true;
    return guard;
  }
  PtDiskTable table = scan_disks(env);
  bool found = false;
  bool refused = false;
  for (PtDisk& disk : table.disks) {
    if (at_target(disk, target_id) && answers_as(*env.io, disk, model)) {
      found = true;
      VolumeLocks locks = lock_volumes_on_disk(*env.io, disk.disk_number, disk.path);
      guard.held.insert(guard.held.end(), locks.held.begin(), locks.held.end());
      for (const std::string& line : locks.refusals) tell(env, line);
      refused = refused || !locks.refusals.empty();
    }
    env.io->close(disk.handle);
  }
  if (!table.any_disk) {
    guard.writable = true;  // no disk to lock anything on: as on Windows 98
    return guard;
  }
  if (!found) {
    tell(env, "tessaly: the disk '" + std::string(model) + "' at target " + std::to_string(target_id) +
                  " of the ASPI layer is none of the disks Windows lets tessaly open, so its volumes cannot be " +
                  "locked: run tessaly from an elevated command prompt (Run as administrator); nothing is " +
                  "written to this disk");
  }
  guard.writable = found && !refused;
  return guard;
}

void release_guard(Win32Io& io, LayerDiskGuard& guard) {
  for (Handle volume : guard.held) io.close(volume);
  guard.held.clear();
}

}  // namespace platform::pt
