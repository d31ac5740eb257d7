// The checksum that marks the copies of the MBR and of the boot pairs: the
// 16-bit wrapping sum of the bytes taken as unsigned values, stored big-endian
// in bytes 510 (high) and 511 (low) of the copy's last sector. A copy whose
// summed bytes are all zero never counts as valid, so an erased sector is not
// mistaken for a copy.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteSum {
  std::uint16_t sum = 0;
  bool any_nonzero = false;
};

// Adds `count` bytes into `into` (unsigned bytes, wrapping at 16 bits).
void add_bytes(ByteSum& into, const std::uint8_t* bytes, std::size_t count);

// Sector checksum over bytes 0-509 of one sector.
ByteSum sector_checksum(const std::uint8_t* sector);

// Pair checksum over the 512 bytes of `boot` and bytes 0-509 of `fsinfo`.
ByteSum pair_checksum(const std::uint8_t* boot, const std::uint8_t* fsinfo);

// The value stored in bytes 510-511 of `sector`, big-endian.
std::uint16_t stored_checksum(const std::uint8_t* sector);
void store_checksum(std::uint8_t* sector, std::uint16_t value);

// The stored value matches and not every summed byte is zero.
bool checksum_holds(const ByteSum& computed, const std::uint8_t* last_sector);

bool has_boot_signature(const std::uint8_t* sector);  // bytes 510-511 = 55 AA
void set_boot_signature(std::uint8_t* sector);
