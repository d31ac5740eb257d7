// The sectors the read-ahead cache holds: runs of consecutive sectors of
// one target, each as one READ(10) returned it (a window), no more sectors
// in all than the cache may hold, the least recently used windows making
// room for a new one. A sector of a window may be dropped (it was written)
// and stays so. Not thread-safe: the owner locks.
//
// A window's memory is taken before its read and handed over with the
// sectors read into it, so that the sectors go from the device into the
// cache without a copy, and the memory of forgotten windows is used again
// for the next ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

constexpr std::uint32_t CACHED_SECTOR_BYTES = 512;

// Memory for the sectors of one window, on a page boundary: a device that
// moves sectors straight into memory (the SG_IO backend's block node) takes
// them there without a bounce buffer.
struct FreeWindowData {
  void operator()(std::uint8_t* data) const;
};
using WindowData = std::unique_ptr<std::uint8_t[], FreeWindowData>;
WindowData allocate_window_data(std::uint32_t sectors);

struct WindowMemory {
  WindowData data;
  std::uint32_t capacity = 0;  // in sectors
};

class SectorWindows {
 public:

  // At most `windows` windows and `cache_sectors` sectors in all.
  SectorWindows(std::size_t windows, std::uint32_t cache_sectors);

  // Copies sector `sector` of `target` to `out` and returns true when it is
  // held.
  bool read(std::uint32_t target, std::uint32_t sector, std::uint8_t* out);

  // Memory for a window of `count` sectors (at most cache_sectors): room is
  // made first, the least recently used windows forgotten until the new one
  // fits, and the memory of one of them is handed out when it is large
  // enough.
  WindowMemory make_room(std::uint32_t count);

  // Holds `count` sectors of `target` from `first`, read into `memory`
  // (from make_room for at least `count` sectors).
  void insert(std::uint32_t target, std::uint32_t first, std::uint32_t count, WindowMemory memory);

  // Whether a window of `target` spans `sector`, held or dropped.
  bool covers(std::uint32_t target, std::uint32_t sector) const;

  // Forgets the sectors first .. first+count-1 of `target` wherever held.
  void drop(std::uint32_t target, std::uint32_t first, std::uint32_t count);

  // Frees every window of `target`: nothing of it is held or covered.
  void clear(std::uint32_t target);

 private:
  struct Window {
    std::uint32_t target = 0;
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    std::uint64_t last_use = 0;
    std::vector<std::uint8_t> held;  // 1: held, 0: dropped
    WindowMemory memory;

    bool spans(std::uint32_t of_target, std::uint32_t sector) const {
      return target == of_target && sector >= first && sector - first < count;
    }
  };

  // The window that holds `sector` of `target`, or nullptr. The one that
  // answered last is asked first: reads come in order, window after window.
  Window* holder(std::uint32_t target, std::uint32_t sector);
  // Forgets the least recently used window, keeping its memory in `spare`
  // when that is larger.
  void forget_oldest(WindowMemory& spare);

  std::vector<Window> windows_;
  std::size_t most_windows_;
  std::uint32_t cache_sectors_;
  std::uint32_t sectors_held_ = 0;
  std::size_t last_hit_ = 0;
  std::uint64_t clock_ = 0;
};

}  // namespace platform
