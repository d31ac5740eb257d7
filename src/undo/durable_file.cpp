#include "undo/durable_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
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
std::string flush_folder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return "cannot open the folder to flush it: " + system_error_text();
  const bool flushed = ::fsync(fd) == 0;
  const std::string error = flushed ? std::string() : "cannot flush the folder: " + system_error_text();
  ::close(fd);
  return error;
}

#endif

}  // namespace

std::string write_file_durably(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (file == nullptr) return "cannot create " + path.string() + ": " + system_error_text();
  std::string error;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0) {
    error = "cannot write " + path.string() + ": " + system_error_text();
  } else {
    error = flush_to_device(file);
  }
  if (std::fclose(file) != 0 && error.empty()) error = "cannot close " + path.string() + ": " + system_error_text();
  return error;
}

std::string rename_durably(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
  if (!MoveFileExA(from.string().c_str(), to.string().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return "cannot rename it to " + to.string() + " (error " + std::to_string(GetLastError()) + ")";
  }
  return {};
#else
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    return "cannot rename it to " + to.string() + ": " + system_error_text();
  }
  return flush_folder(to.parent_path());
#endif
}

bool read_whole_file(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.string().c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  std::uint8_t block[65536];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
  const bool sound = std::ferror(file) == 0;
  std::fclose(file);
  return sound;
}
