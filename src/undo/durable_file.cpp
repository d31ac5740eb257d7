#include "undo/durable_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string system_error_text() { return std::strerror(errno); }

#ifdef _WIN32

std::string flush_to_device(std::FILE* file) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle)) {
    return "cannot flush it to the disk (error " + std::to_string(GetLastError()) + ")";
  }
  return {};
}

#else

std::string flush_to_device(std::FILE* file) {
  if (::fsync(::fileno(file)) != 0) return "cannot flush it to the disk: " + system_error_text();
  return {};
}

// A rename is part of the folder: it is durable once the folder is flushed.
std::string flush_folder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return "cannot open the folder to flush it: " + system_error_text();
  const bool flushed = ::fsync(fd) == 0;
  const std::string error = flushed ? std::string() : "cannot flush the folder: " + system_error_text();
  ::close(fd);
  return error;
}

#endif

}  // namespace

std::string write_file_durably(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return "cannot create " + path + ": " + system_error_text();
  std::string error;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0) {
    error = "cannot write " + path + ": " + system_error_text();
  } else {
    error = flush_to_device(file);
  }
  if (std::fclose(file) != 0 && error.empty()) error = "cannot close " + path + ": " + system_error_text();
  return error;
}

#ifdef _WIN32

// MoveFileExA exists on Windows NT only; it is looked up so that the program
// still starts on Windows 98 SE and Me, where the final name is always a new
// one (the journal's name is fresh) and MoveFileA renames within the folder.
std::string rename_durably(const std::string& from, const std::string& to) {
  using MoveFileExProc = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
  const auto move_file_ex = reinterpret_cast<MoveFileExProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "MoveFileExA")));
  const BOOL moved = move_file_ex != nullptr
                         ? move_file_ex(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                         : MoveFileA(from.c_str(), to.c_str());
  if (!moved) return "cannot rename it to " + to + " (error " + std::to_string(GetLastError()) + ")";
  return {};
}

std::string path_in(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

bool path_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string make_folders(const std::string& folder) {
  if (folder.empty() || path_exists(folder)) return {};
  const std::size_t cut = folder.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0 && folder[cut - 1] != ':') {
    const std::string problem = make_folders(folder.substr(0, cut));
    if (!problem.empty()) return problem;
  }
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return "cannot make " + folder + " (error " + std::to_string(GetLastError()) + ")";
  }
  return {};
}

void remove_file(const std::string& path) { DeleteFileA(path.c_str()); }

#else

std::string rename_durably(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    return "cannot rename it to " + to + ": " + system_error_text();
  }
  const std::size_t cut = to.find_last_of('/');
  return flush_folder(cut == std::string::npos ? std::string() : to.substr(0, cut == 0 ? 1 : cut));
}

std::string path_in(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool path_exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string make_folders(const std::string& folder) {
  if (folder.empty() || path_exists(folder)) return {};
  const std::size_t cut = folder.find_last_of('/');
  if (cut != std::string::npos && cut > 0) {
    const std::string problem = make_folders(folder.substr(0, cut));
    if (!problem.empty()) return problem;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "cannot make " + folder + ": " + system_error_text();
  return {};
}

void remove_file(const std::string& path) { ::unlink(path.c_str()); }

#endif

bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  std::uint8_t block[65536];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
  const bool sound = std::ferror(file) == 0;
  std::fclose(file);
  return sound;
}
