// The guard settled before the first write to a SCSI disk. A disk whose
// block device is mounted (in any mount namespace, FUSE included), used as
// swap or held by another driver must not be written under its file system.
// The kernel knows all of these: each takes an exclusive claim on the block
// device, so the guard takes one itself, by opening the disk's block device
// with O_EXCL, and keeps it while the disk may be written, which also keeps
// anything from mounting the disk meanwhile. The claim on the whole disk
// covers its partitions: the kernel refuses it while any partition is
// claimed, and refuses a partition's claim while the whole disk is claimed
// by someone else (so the partitions are not claimed one by one).
//
// A loop device takes no claim on its backing device, so loop devices whose
// backing is one of the disk's block devices are looked for separately.
// The mount table and the swap list only serve to name what holds the disk:
// what they cannot tell never makes a disk writable.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/scsi_generic/scsi_generic_types.h"

namespace platform::sg {

struct WriteGuard {
  // The claims to keep while the disk is written (closed with close_node).
  std::vector<BlockClaim> claims;
  // Why the disk must not be written, as one line for the user (without the
  // program's name); nothing when it may be written.
  std::optional<std::string> refusal;
};

// Claims the block devices of the disk behind the sg node `node`. A disk
// with no block device (no disk driver bound) cannot be mounted: it may be
// written without a claim. On a refusal no claim is kept.
WriteGuard guard_writes(const SgEnvironment& env, const std::string& node);

}  // namespace platform::sg
