// The sectors the read-ahead cache holds: a fixed number of windows, each a
// run of consecutive sectors of one target as one READ(10) returned them,
// the least recently used window making room for a new one. A sector of a
// window may be dropped (it was written) and stays so. Not thread-safe: the
// owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

constexpr std::uint32_t CACHED_SECTOR_BYTES = 512;

class SectorWindows {
 public:
  // `windows` windows of at most `window_sectors` sectors each.
  SectorWindows(std::size_t windows, std::uint32_t window_sectors);

  // Copies sector `sector` of `target` to `out` and returns true when it is
  // held.
  bool read(std::uint32_t target, std::uint32_t sector, std::uint8_t* out);

  // Holds `count` sectors of `target` from `first` (at most window_sectors),
  // replacing the least recently used window.
  void insert(std::uint32_t target, std::uint32_t first, std::uint32_t count, const std::uint8_t* data);

  // Whether a window of `target` spans `sector`, held or dropped.
  bool covers(std::uint32_t target, std::uint32_t sector);

  // Forgets the sectors first .. first+count-1 of `target` wherever held.
  void drop(std::uint32_t target, std::uint32_t first, std::uint32_t count);

  // Frees every window of `target`: nothing of it is held or covered.
  void clear(std::uint32_t target);

 private:
  struct Window {
    std::uint32_t target = 0;
    std::uint32_t first = 0;
    std::uint32_t count = 0;  // 0: unused
    std::uint64_t last_use = 0;
    std::vector<bool> held;
    std::vector<std::uint8_t> data;
  };

  // Calls visit(window, index in window, index in the range) for every held
  // or holdable sector of the range.
  template <typename Visit>
  void each_covered(std::uint32_t target, std::uint32_t first, std::uint32_t count, Visit visit);

  std::vector<Window> windows_;
  std::uint32_t window_sectors_;
  std::uint64_t clock_ = 0;
};

}  // namespace platform
