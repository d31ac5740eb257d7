#include "platform/passthrough/passthrough_volumes.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace platform::pt {
namespace {

// The extents, asked again with room for all of them when a volume spans
// more disks than the first answer holds.
Placement place_by_extents(Win32Io& io, Handle volume, std::uint32_t disk_number, std::uint32_t& error) {
  std::vector<std::uint8_t> room(sizeof(VolumeDiskExtents));
  std::uint32_t returned = 0;
  const auto ask = [&] {
    return io.control(volume, WIN_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, room.data(),
                      static_cast<std::uint32_t>(room.size()), returned);
  };
  std::uint32_t count = 0;
  error = ask();
  if (error == WIN_ERROR_MORE_DATA) {
    std::memcpy(&count, room.data(), sizeof count);
    room.resize(offsetof(VolumeDiskExtents, Extents) + std::size_t{count} * sizeof(DiskExtent));
    error = ask();
  }
  if (error != 0 || returned < offsetof(VolumeDiskExtents, Extents)) return Placement::unknown;
  std::memcpy(&count, room.data(), sizeof count);
  if (count > (returned - offsetof(VolumeDiskExtents, Extents)) / sizeof(DiskExtent)) return Placement::unknown;
  for (std::uint32_t i = 0; i < count; ++i) {
    DiskExtent extent;
    std::memcpy(&extent, room.data() + offsetof(VolumeDiskExtents, Extents) + i * sizeof(DiskExtent), sizeof extent);
    if (extent.DiskNumber == disk_number) return Placement::on_disk;
  }
  return Placement::elsewhere;
}

// A volume that is not a volume manager's (a floppy, a CD, some card
// readers) still tells which device it is.
Placement place_by_device_number(Win32Io& io, Handle volume, std::uint32_t disk_number) {
  StorageDeviceNumber number{};
  std::uint32_t returned = 0;
  if (io.control(volume, WIN_IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, returned) != 0 ||
      returned < sizeof number) {
    return Placement::unknown;
  }
  const bool same = number.DeviceType == WIN_FILE_DEVICE_DISK && number.DeviceNumber == disk_number;
  return same ? Placement::on_disk : Placement::elsewhere;
}

bool lock_and_dismount(Win32Io& io, Handle volume, std::uint32_t& error) {
  std::uint32_t returned = 0;
  error = io.control(volume, WIN_FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, returned);
  if (error == 0) error = io.control(volume, WIN_FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, returned);
  return error == 0;
}

bool is_drive_letter(const std::string& shown) { return shown.size() == 2 && shown[1] == ':'; }

std::string called(const std::string& shown) {
  return (is_drive_letter(shown) ? "drive " : "the volume mounted at ") + shown;
}

std::string in_use(const VolumeName& volume, const std::string& disk_path) {
  return "tessaly: " + called(volume.shown) + " on " + disk_path +
         " is in use and cannot be locked: close every program and Explorer window using " + volume.shown +
         ", then run tessaly again; nothing is written to this disk";
}

std::string not_placed(const VolumeName& volume, const std::string& disk_path, std::uint32_t error) {
  return "tessaly: " + called(volume.shown) + " cannot be asked whether it lies on " + disk_path +
         " nor be locked (Windows error " + std::to_string(error) + "), so it counts as lying there: close " +
         "every program using " + volume.shown + ", or remove its medium, then run tessaly again; nothing is " +
         "written to this disk";
}

Placement place(Win32Io& io, const VolumeName& volume, std::uint32_t disk_number, bool& gone) {
  std::uint32_t error = 0;
  Handle query = io.open(volume.device, false, error);
  gone = error == WIN_ERROR_FILE_NOT_FOUND || error == WIN_ERROR_PATH_NOT_FOUND;
  if (query == nullptr) return Placement::unknown;
  const Placement placement = place_volume(io, query, disk_number);
  io.close(query);
  return placement;
}

// Locks one volume that lies, or may lie, on the disk.
void lock_one(Win32Io& io, const VolumeName& volume, Placement placement, const std::string& disk_path,
              VolumeLocks& locks) {
  std::uint32_t error = 0;
  Handle handle = io.open(volume.device, true, error);
  if (handle != nullptr && lock_and_dismount(io, handle, error)) {
    locks.held.push_back(handle);
    return;
  }
  if (handle != nullptr) io.close(handle);
  // A drive without a medium (an empty card slot or floppy drive) holds no
  // file system: nothing there can write to a disk that answers.
  if (placement == Placement::unknown && error == WIN_ERROR_NOT_READY) return;
  locks.refusals.push_back(placement == Placement::on_disk ? in_use(volume, disk_path)
                                                          : not_placed(volume, disk_path, error));
}

}  // namespace

Placement place_volume(Win32Io& io, Handle volume, std::uint32_t disk_number) {
  std::uint32_t error = 0;
  const Placement placement = place_by_extents(io, volume, disk_number, error);
  // More extents than could be read is no reason to ask the device number,
  // which names only one disk.
  if (placement != Placement::unknown || error == WIN_ERROR_MORE_DATA) return placement;
  return place_by_device_number(io, volume, disk_number);
}

VolumeLocks lock_volumes_on_disk(Win32Io& io, std::uint32_t disk_number, const std::string& disk_path) {
  VolumeLocks locks;
  for (const VolumeName& volume : io.volumes()) {
    bool gone = false;
    const Placement placement = place(io, volume, disk_number, gone);
    if (placement == Placement::elsewhere || gone) continue;
    lock_one(io, volume, placement, disk_path, locks);
  }
  return locks;
}

}  // namespace platform::pt
