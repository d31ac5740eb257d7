// Helpers of the image-disk tests: temporary image files with a known
// pattern, request blocks as the request layer builds them, and a posting
// routine that records who called it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/wnaspi32.h"

namespace image_test {

// Byte i of sector s: different in every sector, so a read from the wrong
// place shows.
inline std::uint8_t pattern(std::uint64_t sector, std::size_t i) {
  return static_cast<std::uint8_t>(sector * 7 + i * 13 + 1);
}

class TempImage {
 public:
  explicit TempImage(std::uint64_t sectors, std::size_t extra_bytes = 0);
  ~TempImage();
  const std::string& path() const { return path_; }
  std::vector<std::uint8_t> sector(std::uint64_t number) const;

 private:
  std::string path_;
};

struct PostRecord {
  std::atomic<int> calls{0};
  std::atomic<std::uint8_t> status{0};
  std::thread::id thread;
};
extern PostRecord posted;
void record_post(SRB_ExecSCSICmd* srb);
void reset_posted();

SRB_ExecSCSICmd make_block(std::uint8_t ha, std::uint8_t target, std::uint8_t flags, std::uint8_t* buffer,
                           std::uint32_t length);
SRB_ExecSCSICmd inquiry_block(std::uint8_t ha, std::uint8_t target, std::uint8_t* buffer);
SRB_ExecSCSICmd capacity_block(std::uint8_t ha, std::uint8_t target, std::uint8_t* buffer);
SRB_ExecSCSICmd transfer_block(std::uint8_t opcode, std::uint8_t ha, std::uint8_t target, std::uint32_t lba,
                               std::uint16_t count, std::uint8_t* buffer, std::uint32_t length);

// Installs image disks from `settings` as the ASPI layer; stderr goes to
// `errors`.
void install_images(const std::string& settings, std::string* errors = nullptr);

}  // namespace image_test
