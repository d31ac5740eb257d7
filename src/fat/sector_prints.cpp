#include "fat/sector_prints.h"

#include "scsi/completion_state.h"

SectorPrints last_search_prints;
SectorPrints last_sum_prints;

std::uint64_t sector_print(const std::uint8_t* sector) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (int i = 0; i < SECTOR_SIZE; ++i) {
    hash ^= sector[i];
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

void restart_prints(SectorPrints& prints, std::int64_t first) {
  prints.first = first;
  prints.prints.clear();
}

void note_print(SectorPrints& prints, std::int64_t sector, const std::uint8_t* data) {
  if (sector < prints.first) return;
  const std::size_t at = static_cast<std::size_t>(sector - prints.first);
  if (prints.prints.size() <= at) prints.prints.resize(at + 1);
  prints.prints[at] = sector_print(data);
}

std::optional<std::uint64_t> print_of(const SectorPrints& prints, std::int64_t sector) {
  if (sector < prints.first) return std::nullopt;
  const std::size_t at = static_cast<std::size_t>(sector - prints.first);
  return at < prints.prints.size() ? prints.prints[at] : std::nullopt;
}

std::vector<bool> plan_fat_copy(std::int32_t first_fat_start, std::int32_t second_fat_start) {
  const std::int64_t fat_size = static_cast<std::int64_t>(second_fat_start) - first_fat_start;
  std::vector<bool> may_need_write(static_cast<std::size_t>(fat_size > 0 ? fat_size : 0), true);
  if (last_search_prints.first != first_fat_start || last_sum_prints.first != second_fat_start) {
    return may_need_write;
  }
  for (std::int64_t i = 0; i < fat_size; ++i) {
    const std::optional<std::uint64_t> source = print_of(last_sum_prints, second_fat_start + i);
    const std::optional<std::uint64_t> destination = print_of(last_search_prints, first_fat_start + i);
    if (source && destination && *source == *destination) may_need_write[static_cast<std::size_t>(i)] = false;
  }
  return may_need_write;
}
