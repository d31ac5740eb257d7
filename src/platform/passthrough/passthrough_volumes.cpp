#include "platform/passthrough/passthrough_volumes.h"

namespace platform::pt {
namespace {

bool lies_on_disk(Win32Io& io, Handle volume, std::uint32_t disk_number) {
  VolumeDiskExtents extents{};
  std::uint32_t returned = 0;
  if (io.control(volume, WIN_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents, sizeof extents,
                 returned) != 0) {
    return false;  // not a disk volume (a network or virtual drive)
  }
  for (std::uint32_t i = 0; i < extents.NumberOfDiskExtents && i < VOLUME_EXTENTS_ROOM; ++i) {
    if (extents.Extents[i].DiskNumber == disk_number) return true;
  }
  return false;
}

bool lock_and_dismount(Win32Io& io, Handle volume) {
  std::uint32_t returned = 0;
  return io.control(volume, WIN_FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, returned) == 0 &&
         io.control(volume, WIN_FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, returned) == 0;
}

}  // namespace

VolumeLocks lock_volumes_on_disk(Win32Io& io, std::uint32_t disk_number) {
  VolumeLocks locks;
  for (const std::string& path : io.lettered_volumes()) {
    std::uint32_t error = 0;
    Handle volume = io.open(path, true, error);
    if (volume == nullptr) continue;  // no medium, or nothing we could lock anyway
    if (!lies_on_disk(io, volume, disk_number)) {
      io.close(volume);
      continue;
    }
    if (lock_and_dismount(io, volume)) {
      locks.held.push_back(volume);
    } else {
      io.close(volume);
      locks.refused.push_back(path.substr(path.size() >= 2 ? path.size() - 2 : 0));
    }
  }
  return locks;
}

}  // namespace platform::pt
