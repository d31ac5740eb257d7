#include "platform/readahead/window_set.h"

#include <algorithm>
#include <cstring>

namespace platform {

SectorWindows::SectorWindows(std::size_t windows, std::uint32_t window_sectors)
    : windows_(windows), window_sectors_(window_sectors) {}

template <typename Visit>
void SectorWindows::each_covered(std::uint32_t target, std::uint32_t first, std::uint32_t count, Visit visit) {
  const std::uint64_t end = std::uint64_t{first} + count;
  for (Window& window : windows_) {
    if (window.count == 0 || window.target != target) continue;
    const std::uint64_t from = std::max<std::uint64_t>(first, window.first);
    const std::uint64_t to = std::min<std::uint64_t>(end, std::uint64_t{window.first} + window.count);
    for (std::uint64_t sector = from; sector < to; ++sector) {
      visit(window, static_cast<std::size_t>(sector - window.first), static_cast<std::size_t>(sector - first));
    }
  }
}

bool SectorWindows::read(std::uint32_t target, std::uint32_t sector, std::uint8_t* out) {
  bool found = false;
  each_covered(target, sector, 1, [&](Window& window, std::size_t at, std::size_t) {
    if (found || !window.held[at]) return;
    std::memcpy(out, &window.data[at * CACHED_SECTOR_BYTES], CACHED_SECTOR_BYTES);
    window.last_use = ++clock_;
    found = true;
  });
  return found;
}

void SectorWindows::insert(std::uint32_t target, std::uint32_t first, std::uint32_t count,
                           const std::uint8_t* data) {
  if (windows_.empty() || count == 0) return;
  count = std::min(count, window_sectors_);
  Window& window = *std::min_element(windows_.begin(), windows_.end(), [](const Window& a, const Window& b) {
    return a.last_use < b.last_use;
  });
  window.target = target;
  window.first = first;
  window.count = count;
  window.last_use = ++clock_;
  window.held.assign(count, true);
  window.data.assign(data, data + std::size_t{count} * CACHED_SECTOR_BYTES);
}

bool SectorWindows::covers(std::uint32_t target, std::uint32_t sector) {
  bool found = false;
  each_covered(target, sector, 1, [&](Window&, std::size_t, std::size_t) { found = true; });
  return found;
}

void SectorWindows::drop(std::uint32_t target, std::uint32_t first, std::uint32_t count) {
  each_covered(target, first, count, [](Window& window, std::size_t at, std::size_t) { window.held[at] = false; });
}

void SectorWindows::clear(std::uint32_t target) {
  for (Window& window : windows_) {
    if (window.target == target) window.count = 0;
  }
}

}  // namespace platform
