#include "fat/sector_prints.h"

#include <cstring>

#include "fat/fat_search.h"
#include "scsi/completion_state.h"

SectorPrints last_search_prints;
SectorPrints last_sum_prints;

namespace {

constexpr std::uint64_t FNV_PRIME = 0x100000001b3ULL;

std::uint64_t word_at(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// One step of a lane: mixing in a word and multiplying by an odd number are
// each one-to-one, and the rotation brings the top bits, which the multiply
// alone never spreads, down to where the next multiply spreads them.
std::uint64_t mix(std::uint64_t hash, std::uint64_t word) {
  const std::uint64_t product = (hash ^ word) * FNV_PRIME;
  return (product << 27) | (product >> 37);
}

}  // namespace

// The sector's 64 words go round four lanes, so that four multiplies are
// under way at once, and the lanes are folded into one at the end. Every
// step is one-to-one, so two sectors that differ in a single word always
// differ in their fingerprints.
std::uint64_t sector_print(const std::uint8_t* sector) {
  std::uint64_t a = 0xcbf29ce484222325ULL, b = 0x84222325cbf29ce4ULL;
  std::uint64_t c = 0x9ce484222325cbf2ULL, d = 0x2325cbf29ce48422ULL;
  for (int at = 0; at < SECTOR_SIZE; at += 32) {
    a = mix(a, word_at(sector + at));
    b = mix(b, word_at(sector + at + 8));
    c = mix(c, word_at(sector + at + 16));
    d = mix(d, word_at(sector + at + 24));
  }
  return mix(mix(mix(a, b), c), d);
}

// Room for a whole search at once: the list does not grow sector by sector.
void restart_prints(SectorPrints& prints, std::int64_t first) {
  prints.first = first;
  prints.prints.clear();
  prints.prints.reserve(FAT_SEARCH_SPAN);
}

void note_print(SectorPrints& prints, std::int64_t sector, const std::uint8_t* data) {
  if (sector < prints.first) return;
  const std::size_t at = static_cast<std::size_t>(sector - prints.first);
  // The scans note their sectors in order: the list grows by one.
  if (prints.prints.size() == at) {
    prints.prints.push_back(sector_print(data));
    return;
  }
  if (prints.prints.size() < at) prints.prints.resize(at + 1);
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
