// The measure by which the two FATs are compared: the 16-bit wrapping sum of
// their bytes, each byte taken as a signed value, widened to 32 bits.
#pragma once

#include <cstdint>
#include <optional>

// The bytes of one 512-byte sector added up as signed values, without
// wrapping (-65,536 to 65,024): its share of a FAT sum, and zero for a
// sector of free FAT entries.
std::int32_t sector_signed_sum(const std::uint8_t* sector);

// Adds one 512-byte sector into a running FAT sum accumulator.
void add_to_fat_sum(std::uint16_t& accumulator, const std::uint8_t* sector);

// The accumulator read as a signed 16-bit value.
std::int32_t fat_sum_value(std::uint16_t accumulator);

// The FAT sum of `sector_count` sectors from `first_sector`, or nothing when a
// read failed (the sum stops at the first unreadable sector). The sectors
// summed are fingerprinted in last_sum_prints.
std::optional<std::int32_t> sum_fat_sectors(std::int32_t first_sector, std::int32_t sector_count);
