// The real Windows calls beneath the pass-through backend: CreateFileA,
// DeviceIoControl, CloseHandle, and the list of volumes. Compiled only for
// Windows; the definitions of passthrough_win_types.h are checked here
// against the Windows headers.
//
// The volume functions came with Windows 2000 (FindFirstVolumeA and its
// kin, GetVolumeNameForVolumeMountPointA) and XP
// (GetVolumePathNamesForVolumeNameA): they are looked up at run time, so
// that the program still starts on Windows 98 SE, which has none.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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
              WIN_ERROR_IO_DEVICE == ERROR_IO_DEVICE && WIN_ERROR_MORE_DATA == ERROR_MORE_DATA &&
              WIN_ERROR_NOT_READY == ERROR_NOT_READY);

using FindFirstVolumeProc = HANDLE(WINAPI*)(LPSTR, DWORD);
using FindNextVolumeProc = BOOL(WINAPI*)(HANDLE, LPSTR, DWORD);
using FindVolumeCloseProc = BOOL(WINAPI*)(HANDLE);
using VolumeNameForMountPointProc = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD);
using VolumePathNamesProc = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD, PDWORD);

// GetProcAddress hands back a generic FARPROC; the caller casts it to the
// published signature.
template <typename Proc>
Proc kernel32_entry(const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), name)));
}

constexpr DWORD VOLUME_NAME_ROOM = 1024;

std::string without_trailing_backslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// "\\?\Volume{...}\" for each lettered drive, to name the volumes of
// Windows 2000, which cannot list a volume's mount folders.
std::vector<std::pair<std::string, std::string>> letters_of_volumes() {
  std::vector<std::pair<std::string, std::string>> letters;
  const auto name_of = kernel32_entry<VolumeNameForMountPointProc>("GetVolumeNameForVolumeMountPointA");
  if (name_of == nullptr) return letters;
  const DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((drives & (DWORD{1} << i)) == 0) continue;
    const std::string root = std::string(1, char('A' + i)) + ":\\";
    char volume[VOLUME_NAME_ROOM];
    if (name_of(root.c_str(), volume, VOLUME_NAME_ROOM)) letters.emplace_back(volume, root.substr(0, 2));
  }
  return letters;
}

// The volume's first mount point ("E:" for a drive letter), or "" when it
// has none the system can tell.
std::string shown_name(const std::string& volume, const std::vector<std::pair<std::string, std::string>>& letters) {
  if (const auto path_names = kernel32_entry<VolumePathNamesProc>("GetVolumePathNamesForVolumeNameA")) {
    std::vector<char> names(VOLUME_NAME_ROOM * 4, '\0');
    DWORD length = 0;
    if (path_names(volume.c_str(), names.data(), static_cast<DWORD>(names.size()), &length) && names[0] != '\0') {
      const std::string first = names.data();
      return first.size() == 3 && first[1] == ':' ? first.substr(0, 2) : first;
    }
    return "";
  }
  for (const auto& [name, letter] : letters) {
    if (name == volume) return letter;
  }
  return "";
}

std::vector<VolumeName> listed_volumes(FindFirstVolumeProc first, FindNextVolumeProc next, FindVolumeCloseProc done) {
  std::vector<VolumeName> volumes;
  // Asked only where needed: naming a floppy's volume may spin its drive.
  const bool names_itself = kernel32_entry<VolumePathNamesProc>("GetVolumePathNamesForVolumeNameA") != nullptr;
  const auto letters = names_itself ? std::vector<std::pair<std::string, std::string>>{} : letters_of_volumes();
  char name[VOLUME_NAME_ROOM];
  HANDLE search = first(name, VOLUME_NAME_ROOM);
  if (search == INVALID_HANDLE_VALUE) return volumes;
  do {
    const std::string shown = shown_name(name, letters);
    const std::string device = without_trailing_backslash(name);
    volumes.push_back({device, shown.empty() ? device : shown});
  } while (next(search, name, VOLUME_NAME_ROOM));
  done(search);
  return volumes;
}

// Without the volume list: every drive letter, A: and B: too, but the
// network's, which lie on no disk of this machine.
std::vector<VolumeName> lettered_volumes() {
  std::vector<VolumeName> volumes;
  const DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((drives & (DWORD{1} << i)) == 0) continue;
    const std::string letter = std::string(1, char('A' + i)) + ":";
    if (GetDriveTypeA((letter + "\\").c_str()) == DRIVE_REMOTE) continue;
    volumes.push_back({"\\\\.\\" + letter, letter});
  }
  return volumes;
}

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

  std::vector<VolumeName> volumes() override {
    const auto first = kernel32_entry<FindFirstVolumeProc>("FindFirstVolumeA");
    const auto next = kernel32_entry<FindNextVolumeProc>("FindNextVolumeA");
    const auto done = kernel32_entry<FindVolumeCloseProc>("FindVolumeClose");
    if (first != nullptr && next != nullptr && done != nullptr) return listed_volumes(first, next, done);
    return lettered_volumes();
  }

  // The high bit of GetVersion is set on Windows 95, 98 and Me.
  bool nt_family() override { return (GetVersion() & 0x80000000u) == 0; }
};

}  // namespace

std::unique_ptr<Win32Io> make_win32_io() { return std::make_unique<RealWin32Io>(); }

PtEnvironment machine_environment() {
  PtEnvironment env =
      environment_from_settings(std::getenv("TESSALY_PASSTHROUGH_DEVICES"), std::getenv("ASPI_SUPPORT"));
  env.io = make_win32_io();
  return env;
}

}  // namespace pt

std::unique_ptr<AspiBackend> make_passthrough_backend() { return pt::make_backend(pt::machine_environment()); }

}  // namespace platform
