#include "platform/passthrough/passthrough_disks.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <utility>

namespace platform::pt {
namespace {

// One query whose answer must fill at least `needed` bytes of `out`.
template <typename T>
bool ask(Win32Io& io, Handle handle, std::uint32_t code, void* in, std::uint32_t in_size, T& out,
         std::uint32_t needed = sizeof(T)) {
  std::uint32_t returned = 0;
  return io.control(handle, code, in, in_size, &out, sizeof out, returned) == 0 && returned >= needed;
}

void describe(Win32Io& io, PtDisk& disk, std::uint32_t fallback_number) {
  StorageDeviceNumber number{};
  disk.disk_number = ask(io, disk.handle, WIN_IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number)
                         ? number.DeviceNumber
                         : fallback_number;
  disk.addressed = ask(io, disk.handle, WIN_IOCTL_SCSI_GET_ADDRESS, nullptr, 0, disk.address);
  StoragePropertyQuery query{STORAGE_ADAPTER_PROPERTY, PROPERTY_STANDARD_QUERY, {0}};
  StorageAdapterDescriptor adapter{};
  if (ask(io, disk.handle, WIN_IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, adapter,
          offsetof(StorageAdapterDescriptor, AdapterUsesPio))) {
    if (alignment_mask_usable(adapter.AlignmentMask)) disk.alignment_mask = adapter.AlignmentMask;
    disk.max_transfer = max_transfer_of(adapter);
  }
}

std::string open_failure(const std::string& path, std::uint32_t error) {
  const std::string head = "tessaly: " + path + " cannot be opened for reading and writing";
  if (error == WIN_ERROR_ACCESS_DENIED) {
    return head + " (access denied): run tessaly from an elevated command prompt (Run as administrator)";
  }
  if (error == WIN_ERROR_SHARING_VIOLATION) return head + " (another program holds it): close that program";
  return head + " (Windows error " + std::to_string(error) + "): it is left out";
}

}  // namespace

bool alignment_mask_usable(std::uint32_t mask) { return mask < PAGE_BYTES && (mask & (mask + 1)) == 0; }

std::uint32_t max_transfer_of(const StorageAdapterDescriptor& descriptor) {
  std::uint64_t bytes = descriptor.MaximumTransferLength;
  // A buffer that does not start on a page boundary spans one page more
  // than its length.
  if (descriptor.MaximumPhysicalPages > 1) {
    bytes = std::min<std::uint64_t>(bytes, std::uint64_t{descriptor.MaximumPhysicalPages - 1} * PAGE_BYTES);
  }
  return bytes == 0 ? DEFAULT_MAX_TRANSFER : static_cast<std::uint32_t>(bytes);
}

PtDiskTable scan_disks(const PtEnvironment& env) {
  PtDiskTable table;
  const bool listed = env.use_device_list;
  const int count = listed ? static_cast<int>(env.device_paths.size()) : HIGHEST_PHYSICAL_DRIVE + 1;
  int misses = 0;
  for (int n = 0; n < count && misses < PHYSICAL_DRIVE_MISS_RUN; ++n) {
    PtDisk disk;
    disk.path = listed ? env.device_paths[n] : "\\\\.\\PhysicalDrive" + std::to_string(n);
    std::uint32_t error = 0;
    disk.handle = env.io->open(disk.path, true, error);
    if (disk.handle == nullptr) {
      if (error == WIN_ERROR_FILE_NOT_FOUND || error == WIN_ERROR_PATH_NOT_FOUND) {
        if (!listed) ++misses;
        continue;
      }
      table.any_disk = true;
      if (env.tell_user) env.tell_user(open_failure(disk.path, error));
      continue;
    }
    misses = 0;
    table.any_disk = true;
    describe(*env.io, disk, static_cast<std::uint32_t>(n));
    table.disks.push_back(std::move(disk));
  }
  table.adapter_count = assign_adapters(table.disks);
  return table;
}

int assign_adapters(std::vector<PtDisk>& disks) {
  const auto placeable = [](const PtDisk& disk) {
    return disk.addressed && disk.address.Lun == 0 && disk.address.TargetId <= 7;
  };
  std::map<std::pair<int, int>, int> buses;  // (port, path) -> adapter, in sorted order
  for (const PtDisk& disk : disks) {
    if (placeable(disk)) buses.emplace(std::make_pair(disk.address.PortNumber, disk.address.PathId), 0);
  }
  int next = 0;
  for (auto& bus : buses) bus.second = next++;
  for (PtDisk& disk : disks) disk.adapter = disk.target = -1;
  for (PtDisk& disk : disks) {
    if (placeable(disk)) {
      const int adapter = buses.at({disk.address.PortNumber, disk.address.PathId});
      const bool taken = std::any_of(disks.begin(), disks.end(), [&](const PtDisk& other) {
        return other.adapter == adapter && other.target == disk.address.TargetId;
      });
      if (taken) continue;
      disk.adapter = adapter;
      disk.target = disk.address.TargetId;
    }
  }
  for (PtDisk& disk : disks) {
    if (!disk.addressed) {
      disk.adapter = next++;
      disk.target = 0;
    }
  }
  return next;
}

PtDisk* find_disk(PtDiskTable& table, int adapter, int target) {
  for (PtDisk& disk : table.disks) {
    if (disk.adapter == adapter && disk.target == target) return &disk;
  }
  return nullptr;
}

}  // namespace platform::pt
