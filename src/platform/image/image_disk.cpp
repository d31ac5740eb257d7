#include "platform/image/image_disk.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>  // the Windows test layer serves image disks too
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <system_error>

namespace platform {
namespace {

std::fstream open_file(const std::string& path, bool want_write, bool& writable) {
  const auto binary_in = std::ios::in | std::ios::binary;
  writable = false;
  if (want_write) {
    // in|out never creates or truncates: a missing image stays missing.
    std::fstream file(path, binary_in | std::ios::out);
    if (file.is_open()) {
      writable = true;
      return file;
    }
  }
  return std::fstream(path, binary_in);
}

// The image must be a regular file of at least one whole sector; a partial
// sector at its end is not part of the disk.
std::string measure_image(const std::string& name, std::uintmax_t& size) {
  std::error_code error;
  const std::filesystem::path path(name);
  if (!std::filesystem::exists(path, error)) return "image '" + name + "' does not exist";
  if (!std::filesystem::is_regular_file(path, error)) return "'" + name + "' is not a regular file";
  size = std::filesystem::file_size(path, error);
  if (error) return "cannot read the size of '" + name + "': " + error.message();
  if (size < IMAGE_SECTOR_SIZE) return "'" + name + "' holds no whole sector";
  return {};
}

}  // namespace

ImageDisk::ImageDisk(const ImageDiskConfig& config, std::fstream file, std::uint64_t sectors, bool writable)
    : config_(config), file_(std::move(file)), sector_count_(sectors), writable_(writable) {}

std::unique_ptr<ImageDisk> ImageDisk::open(const ImageDiskConfig& config, std::ostream& errors) {
  std::uintmax_t size = 0;
  const std::string problem = measure_image(config.path, size);
  if (!problem.empty()) {
    report_left_out(errors, config, problem);
    return nullptr;
  }
  bool writable = false;
  std::fstream file = open_file(config.path, !config.read_only, writable);
  if (!file.is_open()) {
    report_left_out(errors, config, "cannot open '" + config.path + "'");
    return nullptr;
  }
  return std::unique_ptr<ImageDisk>(new ImageDisk(config, std::move(file), size / IMAGE_SECTOR_SIZE, writable));
}

TransferResult ImageDisk::check_range(std::uint64_t first, std::uint32_t count) const {
  if (first > sector_count_ || count > sector_count_ - first) return TransferResult::out_of_range;
  return TransferResult::done;
}

TransferResult ImageDisk::read(std::uint64_t first, std::uint32_t count, std::uint8_t* data,
                               std::uint64_t& failed_sector) {
  if (check_range(first, count) != TransferResult::done) return TransferResult::out_of_range;
  if (find_sector_in_ranges(config_.bad_reads, first, count, failed_sector)) return TransferResult::bad_sector;
  if (count == 0) return TransferResult::done;
  std::lock_guard<PlainLock> lock(mutex_);
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(first * IMAGE_SECTOR_SIZE));
  file_.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(count) * IMAGE_SECTOR_SIZE);
  if (!file_) {
    // The file shrank under us; report the sector the read stopped in.
    failed_sector = first + static_cast<std::uint64_t>(file_.gcount()) / IMAGE_SECTOR_SIZE;
    return TransferResult::io_error;
  }
  return TransferResult::done;
}

void ImageDisk::store(std::uint64_t first, std::uint32_t count, const std::uint8_t* data) {
  file_.seekp(static_cast<std::streamoff>(first * IMAGE_SECTOR_SIZE));
  file_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count) * IMAGE_SECTOR_SIZE);
}

TransferResult ImageDisk::write(std::uint64_t first, std::uint32_t count, const std::uint8_t* data,
                                std::uint64_t& failed_sector) {
  if (!writable_) return TransferResult::write_protected;
  if (check_range(first, count) != TransferResult::done) return TransferResult::out_of_range;
  if (find_sector_in_ranges(config_.bad_writes, first, count, failed_sector)) return TransferResult::bad_sector;
  if (count == 0) return TransferResult::done;
  std::lock_guard<PlainLock> lock(mutex_);
  file_.clear();
  if (config_.lost_writes.empty()) {
    store(first, count, data);
  } else {
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint64_t lost = 0;
      if (!find_sector_in_ranges(config_.lost_writes, first + i, 1, lost)) store(first + i, 1, data + std::size_t{i} * IMAGE_SECTOR_SIZE);
    }
  }
  file_.flush();
  if (!file_) {
    failed_sector = first;
    return TransferResult::io_error;
  }
  written_ = true;
  return TransferResult::done;
}

// The stream has handed its bytes to the system; a descriptor of our own on
// the same file flushes them to the device.
std::string ImageDisk::make_durable() {
  std::lock_guard<PlainLock> lock(mutex_);
  file_.flush();
#ifdef _WIN32
  // _commit is FlushFileBuffers, which needs a handle open for writing.
  const int fd = ::_open(config_.path.c_str(), _O_RDWR | _O_BINARY);
  if (fd < 0) return std::strerror(errno);
  const bool synced = ::_commit(fd) == 0;
  const std::string error = synced ? std::string() : std::strerror(errno);
  ::_close(fd);
#else
  const int fd = ::open(config_.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  const bool synced = ::fsync(fd) == 0;
  const std::string error = synced ? std::string() : std::strerror(errno);
  ::close(fd);
#endif
  return file_ ? error : "the image could not be written";
}

}  // namespace platform
