// One summing rule serves both kinds of copy: the MBR copies sum bytes 0-509
// of one sector, the boot pair copies sum a whole boot sector and bytes 0-509
// of its FSInfo sector. The sum is kept in bytes 510-511 of the last sector,
// high byte first, where a primary sector keeps its 0x55 0xAA signature.
#include "bootarea/checksum.h"

namespace {

constexpr int SECTOR_BYTES = 512;
constexpr int SUMMED_BYTES = 510;  // the last two bytes hold the checksum
constexpr int CHECKSUM_HIGH = 510;
constexpr int CHECKSUM_LOW = 511;
constexpr std::uint8_t SIGNATURE_FIRST = 0x55;
constexpr std::uint8_t SIGNATURE_SECOND = 0xAA;

}  // namespace

void add_bytes(ByteSum& into, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    into.sum = static_cast<std::uint16_t>(into.sum + bytes[k]);
    if (bytes[k] != 0) {
      into.any_nonzero = true;
    }
  }
}

ByteSum sector_checksum(const std::uint8_t* sector) {
  ByteSum total;
  add_bytes(total, sector, SUMMED_BYTES);
  return total;
}

ByteSum pair_checksum(const std::uint8_t* boot, const std::uint8_t* fsinfo) {
  ByteSum total;
  add_bytes(total, boot, SECTOR_BYTES);
  add_bytes(total, fsinfo, SUMMED_BYTES);
  return total;
}

std::uint16_t stored_checksum(const std::uint8_t* sector) {
  return static_cast<std::uint16_t>((sector[CHECKSUM_HIGH] << 8) | sector[CHECKSUM_LOW]);
}

void store_checksum(std::uint8_t* sector, std::uint16_t value) {
  sector[CHECKSUM_HIGH] = static_cast<std::uint8_t>(value >> 8);
  sector[CHECKSUM_LOW] = static_cast<std::uint8_t>(value);
}

// An all-zero copy would match its own zero checksum; erased sectors must
// never pass for copies, so a copy needs at least one non-zero summed byte.
bool checksum_holds(const ByteSum& computed, const std::uint8_t* last_sector) {
  return computed.any_nonzero && stored_checksum(last_sector) == computed.sum;
}

bool has_boot_signature(const std::uint8_t* sector) {
  return sector[CHECKSUM_HIGH] == SIGNATURE_FIRST && sector[CHECKSUM_LOW] == SIGNATURE_SECOND;
}

void set_boot_signature(std::uint8_t* sector) {
  sector[CHECKSUM_HIGH] = SIGNATURE_FIRST;
  sector[CHECKSUM_LOW] = SIGNATURE_SECOND;
}
