// The real Windows calls beneath the pass-through backend: CreateFileA,
// DeviceIoControl, CloseHandle and GetLogicalDrives. Compiled only for
// Windows; the definitions of passthrough_win_types.h are checked here
// against the Windows headers.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstdlib>

#include "platform/passthrough/passthrough_backend.h"

namespace platform {
namespace pt {
namespace {

static_assert(WIN_IOCTL_SCSI_PASS_THROUGH_DIRECT == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(WIN_IOCTL_SCSI_GET_ADDRESS == IOCTL_SCSI_GET_ADDRESS);
static_assert(WIN_IOCTL_STORAGE_QUERY_PROPERTY == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(WIN_IOCTL_STORAGE_GET_DEVICE_NUMBER == IOCTL_STORAGE_GET_DEVICE_NUMBER);
static_assert(WIN_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS);
static_assert(WIN_IOCTL_DISK_UPDATE_PROPERTIES == IOCTL_DISK_UPDATE_PROPERTIES);
static_assert(WIN_FSCTL_LOCK_VOLUME == FSCTL_LOCK_VOLUME && WIN_FSCTL_DISMOUNT_VOLUME == FSCTL_DISMOUNT_VOLUME);
static_assert(sizeof(ScsiPassThroughDirect) == sizeof(::SCSI_PASS_THROUGH_DIRECT));
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == offsetof(::SCSI_PASS_THROUGH_DIRECT, DataBuffer));
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == offsetof(::SCSI_PASS_THROUGH_DIRECT, Cdb));
static_assert(sizeof(ScsiAddress) == sizeof(::SCSI_ADDRESS));
static_assert(offsetof(StorageAdapterDescriptor, AlignmentMask) ==
              offsetof(::STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask));
static_assert(sizeof(DiskExtent) == sizeof(::DISK_EXTENT));
static_assert(WIN_ERROR_ACCESS_DENIED == ERROR_ACCESS_DENIED && WIN_ERROR_SEM_TIMEOUT == ERROR_SEM_TIMEOUT &&
              WIN_ERROR_DEVICE_NOT_CONNECTED == ERROR_DEVICE_NOT_CONNECTED && WIN_ERROR_TIMEOUT == ERROR_TIMEOUT &&
              WIN_ERROR_IO_DEVICE == ERROR_IO_DEVICE);

class RealWin32Io final : public Win32Io {
 public:
  Handle open(const std::string& path, bool read_write, std::uint32_t& error) override {
    const DWORD access = read_write ? GENERIC_READ | GENERIC_WRITE : 0;
    HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      return nullptr;
    }
    error = 0;
    return handle;
  }

  std::uint32_t control(Handle handle, std::uint32_t code, void* in, std::uint32_t in_size, void* out,
                        std::uint32_t out_size, std::uint32_t& returned) override {
    DWORD bytes = 0;
    const BOOL done = DeviceIoControl(handle, code, in, in_size, out, out_size, &bytes, nullptr);
    returned = bytes;
    return done ? 0 : GetLastError();
  }

  void close(Handle handle) override { CloseHandle(handle); }

  std::vector<std::string> lettered_volumes() override {
    std::vector<std::string> paths;
    const DWORD letters = GetLogicalDrives();
    for (int i = 2; i < 26; ++i) {  // C: to Z:
      if (letters & (DWORD{1} << i)) paths.push_back(std::string("\\\\.\\") + char('A' + i) + ":");
    }
    return paths;
  }
};

}  // namespace

std::unique_ptr<Win32Io> make_win32_io() { return std::make_unique<RealWin32Io>(); }

}  // namespace pt

std::unique_ptr<AspiBackend> make_passthrough_backend() {
  pt::PtEnvironment env =
      pt::environment_from_settings(std::getenv("TESSALY_PASSTHROUGH_DEVICES"), std::getenv("ASPI_SUPPORT"));
  env.io = pt::make_win32_io();
  return pt::make_backend(std::move(env));
}

}  // namespace platform
