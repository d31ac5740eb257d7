// What the pass-through backend asks of Windows, kept behind one small
// interface so that enumeration, request building, outcome mapping and the
// volume locking can be exercised against a scripted system on any machine;
// the real calls live in passthrough_win32_io.cpp (Windows builds only).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/passthrough/passthrough_win_types.h"

namespace platform::pt {

// A volume as Windows lists it: the path that opens it ("\\.\E:" or
// "\\?\Volume{...}", no trailing backslash) and how the user knows it (its
// drive letter "E:", else the folder it is mounted at, else that path).
struct VolumeName {
  std::string device;
  std::string shown;
};

class Win32Io {
 public:
  virtual ~Win32Io() = default;

  // CreateFile on a device or volume path, shared for reading and writing,
  // OPEN_EXISTING; with read_write false the access is 0, which lets a
  // volume be asked where it lies without touching its medium. Returns the
  // handle, or nullptr with GetLastError() in `error`.
  virtual Handle open(const std::string& path, bool read_write, std::uint32_t& error) = 0;

  // DeviceIoControl; 0 on success, otherwise GetLastError(). `returned` gets
  // the bytes the call wrote to `out`.
  virtual std::uint32_t control(Handle handle, std::uint32_t code, void* in, std::uint32_t in_size,
                                void* out, std::uint32_t out_size, std::uint32_t& returned) = 0;

  virtual void close(Handle handle) = 0;

  // Every volume of the machine (FindFirstVolumeA where the system has it,
  // otherwise every drive letter from A: on but network drives).
  virtual std::vector<VolumeName> volumes() = 0;

  // Whether this is Windows NT (2000 on), whose volumes can be locked;
  // Windows 98 SE and Me have neither the locks nor the pass-through.
  virtual bool nt_family() { return true; }
};

std::unique_ptr<Win32Io> make_win32_io();

// Where the backend looks and where it tells the user things.
struct PtEnvironment {
  std::shared_ptr<Win32Io> io;
  // The disks to serve: these paths when use_device_list is set (a test
  // setting), otherwise \\.\PhysicalDrive0 upward.
  bool use_device_list = false;
  std::vector<std::string> device_paths;
  // A support word that replaces the backend's own (test mode only).
  bool support_forced = false;
  std::uint32_t forced_support = 0;
  // One line for the user (standard error by default).
  std::function<void(const std::string&)> tell_user;
};

}  // namespace platform::pt
