#include "undo/durable_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

std::string windows_error_text() { return "error " + std::to_string(GetLastError()); }

bool path_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The whole buffer, in pieces of at most 1 MiB (WriteFile takes a DWORD).
bool write_all(HANDLE file, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, piece, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

// Windows has no fsync for a folder; FlushFileBuffers on the file writes its
// data and its own metadata, and NTFS logs the new folder entry with them.
std::string write_and_flush(HANDLE file, const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (!write_all(file, bytes)) return "cannot write " + path + " (" + windows_error_text() + ")";
  if (!FlushFileBuffers(file)) return "cannot flush " + path + " to the disk (" + windows_error_text() + ")";
  return {};
}

#else

std::string system_error_text() { return std::strerror(errno); }

bool path_exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool write_all(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// A new name is part of its folder: it is durable once the folder is flushed.
std::string flush_folder_of(const std::string& path) {
  const std::size_t cut = path.find_last_of('/');
  const std::string folder = cut == std::string::npos ? std::string(".") : path.substr(0, cut == 0 ? 1 : cut);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return "cannot open the folder to flush it: " + system_error_text();
  const bool flushed = ::fsync(fd) == 0;
  const std::string error = flushed ? std::string() : "cannot flush the folder: " + system_error_text();
  ::close(fd);
  return error;
}

std::string write_and_flush(int fd, const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (!write_all(fd, bytes)) return "cannot write " + path + ": " + system_error_text();
  if (::fsync(fd) != 0) return "cannot flush " + path + " to the disk: " + system_error_text();
  return {};
}

#endif

}  // namespace

#ifdef _WIN32

CreateOutcome create_file_durably(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                  std::string& problem) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return CreateOutcome::name_taken;
    problem = "cannot create " + path + " (error " + std::to_string(error) + ")";
    return CreateOutcome::failed;
  }
  problem = write_and_flush(file, path, bytes);
  if (!CloseHandle(file) && problem.empty()) problem = "cannot close " + path + " (" + windows_error_text() + ")";
  if (problem.empty()) return CreateOutcome::created;
  DeleteFileA(path.c_str());
  return CreateOutcome::failed;
}

std::string path_in(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

std::string make_folders(const std::string& folder) {
  if (folder.empty() || path_exists(folder)) return {};
  const std::size_t cut = folder.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0 && folder[cut - 1] != ':') {
    const std::string problem = make_folders(folder.substr(0, cut));
    if (!problem.empty()) return problem;
  }
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return "cannot make " + folder + " (" + windows_error_text() + ")";
  }
  return {};
}

void remove_file(const std::string& path) { DeleteFileA(path.c_str()); }

#else

CreateOutcome create_file_durably(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                  std::string& problem) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return CreateOutcome::name_taken;
    problem = "cannot create " + path + ": " + system_error_text();
    return CreateOutcome::failed;
  }
  problem = write_and_flush(fd, path, bytes);
  if (::close(fd) != 0 && problem.empty()) problem = "cannot close " + path + ": " + system_error_text();
  if (problem.empty()) problem = flush_folder_of(path);
  if (problem.empty()) return CreateOutcome::created;
  ::unlink(path.c_str());
  return CreateOutcome::failed;
}

std::string path_in(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
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
