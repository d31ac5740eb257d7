// Finding where the second FAT begins by reading the disk sector by sector
// and recognising the start of a FAT by its content.
#pragma once

#include <cstdint>
#include <optional>

// The first four bytes of a FAT: the media entry 0x0FFFFFF8, little-endian.
constexpr std::uint32_t FAT_SIGNATURE = 0x0FFFFFF8u;

// Match bits of a sector; a sector matches when it has every bit of the mode.
constexpr std::uint32_t MATCH_SIGNATURE = 1;
constexpr std::uint32_t MATCH_ZERO_RUN_END = 2;

// Zero runs count only above this sector, past the start of the first FAT.
constexpr std::int32_t ZERO_RUN_AFTER_SECTOR = 190;
constexpr std::int32_t FAT_SEARCH_SPAN = 15000;
constexpr int SECTOR_WINDOW_SLOTS = 128;

// The first sector the last search read before its match that holds a
// volume's boot sector, if any: another volume begins where the search took
// the first FAT to lie.
extern std::optional<std::int64_t> last_search_boot_sector;

// Scans `sector_count` sectors from `first_sector` and yields the first that
// matches `mode`. On a match, `fat1_sum` receives the FAT sum of the readable
// sectors before it; otherwise it is left alone. The sectors read before the
// match are fingerprinted in last_search_prints.
std::optional<std::int32_t> search_fat(std::int32_t first_sector, std::int32_t sector_count,
                                       std::uint32_t mode, std::int32_t& fat1_sum);
