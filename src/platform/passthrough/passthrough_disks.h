// The table of disks the pass-through backend serves, and how they become
// ASPI host adapters and targets: every disk that answers
// WIN_IOCTL_SCSI_GET_ADDRESS with LUN 0 and a target id from 0 to 7 sits at that
// target on the adapter of its (port, path) pair, the pairs numbered 0, 1, ...
// in sorted order; every disk whose address cannot be asked gets an adapter of
// its own after those, at target 0, in the order the disks were found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/passthrough/passthrough_io.h"

namespace platform::pt {

// \\.\PhysicalDrive0 upward; the search ends after this many numbers in a
// row that do not exist, and at the last number in any case.
constexpr int HIGHEST_PHYSICAL_DRIVE = 31;
constexpr int PHYSICAL_DRIVE_MISS_RUN = 8;

// What a disk's adapter is assumed to take when it does not say.
constexpr std::uint32_t DEFAULT_MAX_TRANSFER = 64 * 1024;
constexpr std::uint32_t DEFAULT_ALIGNMENT_MASK = 0xFFF;
constexpr std::uint32_t PAGE_BYTES = 4096;

// Whether writing to a disk has been made safe; settled before its first
// WRITE(10) and kept for the rest of the run.
enum class WriteCheck { not_done, safe, refused };

struct PtDisk {
  std::string path;
  Handle handle = nullptr;
  std::uint32_t disk_number = 0;
  bool addressed = false;
  ScsiAddress address{};
  int adapter = -1;
  int target = -1;
  std::uint32_t alignment_mask = DEFAULT_ALIGNMENT_MASK;
  std::uint32_t max_transfer = DEFAULT_MAX_TRANSFER;
  WriteCheck write_check = WriteCheck::not_done;
  bool wrote = false;
  bool gone = false;  // a request met the disk gone: it is not flushed
  std::vector<Handle> locked_volumes;
};

struct PtDiskTable {
  // Some disk exists, whether or not it could be opened: pass-through is
  // there, even if it serves no adapter.
  bool any_disk = false;
  int adapter_count = 0;
  std::vector<PtDisk> disks;
};

// Opens and places every disk. A disk that exists but cannot be opened for
// reading and writing costs one line to the user and is left out.
PtDiskTable scan_disks(const PtEnvironment& env);

// Numbers the adapters as described above and stores each disk's adapter
// and target (-1 for a disk that cannot be placed); returns the count.
int assign_adapters(std::vector<PtDisk>& disks);

PtDisk* find_disk(PtDiskTable& table, int adapter, int target);

// An adapter's AlignmentMask is taken only when it is one less than a power
// of two and smaller than a page; any other value leaves the default, a
// page, which meets every alignment a real adapter asks for.
bool alignment_mask_usable(std::uint32_t mask);

// The largest transfer the adapter takes in one request, from its
// descriptor: MaximumTransferLength, and no more pages than it can map.
std::uint32_t max_transfer_of(const StorageAdapterDescriptor& descriptor);

}  // namespace platform::pt
