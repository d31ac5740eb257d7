// One virtual disk: an image file of 512-byte sectors, with the failures its
// settings ask for. Transfers are all-or-nothing: a request that touches a
// bad sector or runs past the end moves no data at all.
#pragma once

#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <string>

#include "platform/common/plain_lock.h"
#include "platform/image/image_disks_config.h"

namespace platform {

constexpr std::uint32_t IMAGE_SECTOR_SIZE = 512;

enum class TransferResult {
  done,
  out_of_range,     // runs past the last sector
  bad_sector,       // a sector listed in badread/badwrite
  write_protected,  // "ro", or an image we could open for reading only
  io_error,         // the image file itself failed
};

class ImageDisk {
 public:
  // Opens the image for reading and writing, or for reading only when that
  // is all the file allows or the settings say "ro". Returns nullptr after
  // one line on `errors` when the image cannot be served.
  static std::unique_ptr<ImageDisk> open(const ImageDiskConfig& config, std::ostream& errors);

  const ImageDiskConfig& config() const { return config_; }
  bool written() const { return written_; }
  std::uint64_t sector_count() const { return sector_count_; }
  bool writable() const { return writable_; }

  // `failed_sector` names the sector a bad_sector or io_error result is about.
  TransferResult read(std::uint64_t first, std::uint32_t count, std::uint8_t* data,
                      std::uint64_t& failed_sector);
  TransferResult write(std::uint64_t first, std::uint32_t count, const std::uint8_t* data,
                       std::uint64_t& failed_sector);

  // Makes every write so far durable (fsync of the image). Empty on
  // success, else why not.
  std::string make_durable();

 private:
  ImageDisk(const ImageDiskConfig& config, std::fstream file, std::uint64_t sectors, bool writable);
  TransferResult check_range(std::uint64_t first, std::uint32_t count) const;
  // Puts sectors into the file; the caller holds the lock.
  void store(std::uint64_t first, std::uint32_t count, const std::uint8_t* data);

  ImageDiskConfig config_;
  std::fstream file_;
  std::uint64_t sector_count_;
  bool writable_;
  bool written_ = false;
  PlainLock mutex_;  // a disk may be reached from the poster thread too
};

}  // namespace platform
