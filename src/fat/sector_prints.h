// What the check saw of the FAT sectors it read. The search reads the first
// FAT on its way to the second, and the sum reads the second whole; a
// fingerprint of each sector they read lets the repair tell which sectors
// of the first FAT already hold what their twin in the second holds, and so
// need no write, without reading both FATs once more.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// One fingerprint per sector from `first` on, none for a sector that could
// not be read.
struct SectorPrints {
  std::int64_t first = 0;
  std::vector<std::optional<std::uint64_t>> prints;
};

// The sectors read by the last FAT search and by the last FAT sum.
extern SectorPrints last_search_prints;
extern SectorPrints last_sum_prints;

// A 64-bit fingerprint of a 512-byte sector (FNV-1a's multiplier over
// 64-bit words, in four lanes).
std::uint64_t sector_print(const std::uint8_t* sector);

// Starts `prints` afresh at `first`.
void restart_prints(SectorPrints& prints, std::int64_t first);

// Records the fingerprint of `sector`, read with content `data`.
void note_print(SectorPrints& prints, std::int64_t sector, const std::uint8_t* data);

// The fingerprint recorded for `sector`, if any.
std::optional<std::uint64_t> print_of(const SectorPrints& prints, std::int64_t sector);

// For each sector s of the second FAT, from `second_fat_start` on, whether
// its twin s - (second - first) may need a write: true unless the search
// and the sum saw both sectors, with equal fingerprints. Without what the
// check saw (another range), every sector may.
std::vector<bool> plan_fat_copy(std::int32_t first_fat_start, std::int32_t second_fat_start);
