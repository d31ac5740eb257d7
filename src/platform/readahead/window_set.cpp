#include "platform/readahead/window_set.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {
namespace {

// A page. The start is moved up to the boundary by hand (aligned new is
// missing from the C run-time of the oldest Windows the program starts on),
// and the start that new[] gave is kept just before it.
constexpr std::uintptr_t WINDOW_ALIGNMENT = 4096;

}  // namespace

void FreeWindowData::operator()(std::uint8_t* data) const {
  if (data == nullptr) return;
  std::uint8_t* allocated = nullptr;
  std::memcpy(&allocated, data - sizeof allocated, sizeof allocated);
  delete[] allocated;
}

// Left uninitialised: the read fills it.
WindowData allocate_window_data(std::uint32_t sectors) {
  std::uint8_t* const allocated =
      new std::uint8_t[std::size_t{sectors} * CACHED_SECTOR_BYTES + sizeof(std::uint8_t*) + WINDOW_ALIGNMENT - 1];
  const std::uintptr_t after_note = reinterpret_cast<std::uintptr_t>(allocated) + sizeof allocated;
  std::uint8_t* const data = allocated + ((after_note + WINDOW_ALIGNMENT - 1) & ~(WINDOW_ALIGNMENT - 1)) -
                             reinterpret_cast<std::uintptr_t>(allocated);
  std::memcpy(data - sizeof allocated, &allocated, sizeof allocated);
  return WindowData(data);
}

SectorWindows::SectorWindows(std::size_t windows, std::uint32_t cache_sectors)
    : most_windows_(windows), cache_sectors_(cache_sectors) {
  windows_.reserve(windows);
}

SectorWindows::Window* SectorWindows::holder(std::uint32_t target, std::uint32_t sector) {
  if (last_hit_ < windows_.size()) {
    Window& last = windows_[last_hit_];
    if (last.spans(target, sector) && last.held[sector - last.first]) return &last;
  }
  for (std::size_t i = 0; i < windows_.size(); ++i) {
    Window& window = windows_[i];
    if (window.spans(target, sector) && window.held[sector - window.first]) {
      last_hit_ = i;
      return &window;
    }
  }
  return nullptr;
}

bool SectorWindows::read(std::uint32_t target, std::uint32_t sector, std::uint8_t* out) {
  Window* window = holder(target, sector);
  if (window == nullptr) return false;
  std::memcpy(out, window->memory.data.get() + std::size_t{sector - window->first} * CACHED_SECTOR_BYTES,
              CACHED_SECTOR_BYTES);
  window->last_use = ++clock_;
  return true;
}

void SectorWindows::forget_oldest(WindowMemory& spare) {
  const auto oldest = std::min_element(windows_.begin(), windows_.end(), [](const Window& a, const Window& b) {
    return a.last_use < b.last_use;
  });
  sectors_held_ -= oldest->count;
  if (oldest->memory.capacity > spare.capacity) spare = std::move(oldest->memory);
  windows_.erase(oldest);
}

WindowMemory SectorWindows::make_room(std::uint32_t count) {
  count = std::min(count, cache_sectors_);
  WindowMemory spare;
  while (!windows_.empty() && (windows_.size() >= most_windows_ || sectors_held_ + count > cache_sectors_)) {
    forget_oldest(spare);
  }
  if (spare.capacity >= count) return spare;
  return WindowMemory{allocate_window_data(count), count};
}

void SectorWindows::insert(std::uint32_t target, std::uint32_t first, std::uint32_t count, WindowMemory memory) {
  count = std::min(count, memory.capacity);
  if (most_windows_ == 0 || count == 0) return;
  WindowMemory unused;
  while (!windows_.empty() && (windows_.size() >= most_windows_ || sectors_held_ + count > cache_sectors_)) {
    forget_oldest(unused);
  }
  Window window;
  window.target = target;
  window.first = first;
  window.count = count;
  window.last_use = ++clock_;
  window.held.assign(count, 1);
  window.memory = std::move(memory);
  windows_.push_back(std::move(window));
  sectors_held_ += count;
  last_hit_ = windows_.size() - 1;
}

bool SectorWindows::covers(std::uint32_t target, std::uint32_t sector) const {
  return std::any_of(windows_.begin(), windows_.end(),
                     [&](const Window& window) { return window.spans(target, sector); });
}

void SectorWindows::drop(std::uint32_t target, std::uint32_t first, std::uint32_t count) {
  const std::uint64_t end = std::uint64_t{first} + count;
  for (Window& window : windows_) {
    if (window.target != target) continue;
    const std::uint64_t from = std::max<std::uint64_t>(first, window.first);
    const std::uint64_t to = std::min<std::uint64_t>(end, std::uint64_t{window.first} + window.count);
    for (std::uint64_t sector = from; sector < to; ++sector) window.held[sector - window.first] = 0;
  }
}

void SectorWindows::clear(std::uint32_t target) {
  for (const Window& window : windows_) {
    if (window.target == target) sectors_held_ -= window.count;
  }
  std::erase_if(windows_, [&](const Window& window) { return window.target == target; });
}

}  // namespace platform
