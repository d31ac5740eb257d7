// The bytes of the SCSI commands this utility sends and of the data they
// bring back, as the SCSI block and primary command tables lay them out.
// Every multi-byte field of a CDB and of its data is big-endian, most
// significant byte first, whatever the host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Operation codes (CDB byte 0).
constexpr std::uint8_t OP_INQUIRY = 0x12;
constexpr std::uint8_t OP_READ_CAPACITY_10 = 0x25;
constexpr std::uint8_t OP_READ_10 = 0x28;
constexpr std::uint8_t OP_WRITE_10 = 0x2A;
constexpr std::uint8_t OP_SYNCHRONIZE_CACHE_10 = 0x35;

// CDB lengths: INQUIRY is a 6-byte command, the others 10-byte ones.
constexpr std::uint8_t CDB6_SIZE = 6;
constexpr std::uint8_t CDB10_SIZE = 10;

constexpr std::size_t CDB_OPCODE = 0;

// INQUIRY CDB.
constexpr std::size_t CDB_INQUIRY_EVPD = 1;  // bit 0
constexpr std::size_t CDB_INQUIRY_ALLOCATION = 4;

// READ(10) and WRITE(10) CDB.
constexpr std::size_t CDB10_FLAGS = 1;  // DPO, FUA and the protection bits
constexpr std::size_t CDB10_LBA = 2;    // 4 bytes
constexpr std::size_t CDB10_GROUP = 6;
constexpr std::size_t CDB10_TRANSFER_LENGTH = 7;  // 2 bytes, in blocks
constexpr std::size_t CDB10_CONTROL = 9;

// Standard INQUIRY data.
constexpr std::size_t INQ_PERIPHERAL = 0;  // qualifier and device type
constexpr std::size_t INQ_REMOVABLE = 1;   // bit 7
constexpr std::size_t INQ_VERSION = 2;
constexpr std::size_t INQ_RESPONSE_FORMAT = 3;
constexpr std::size_t INQ_ADDITIONAL_LENGTH = 4;
constexpr std::size_t INQ_MODEL = 8;  // vendor 8 bytes, then product 16 bytes
constexpr std::size_t INQ_REVISION = 32;

// READ CAPACITY(10) data.
constexpr std::size_t CAPACITY_LAST_LBA = 0;      // 4 bytes
constexpr std::size_t CAPACITY_BLOCK_LENGTH = 4;  // 4 bytes
constexpr std::size_t CAPACITY_DATA_SIZE = 8;

inline std::uint16_t get_be16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

inline std::uint32_t get_be32(const std::uint8_t* at) {
  return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}

inline void put_be16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

inline void put_be32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

// The first block and the block count of a READ(10) or WRITE(10) CDB.
inline std::uint32_t cdb10_lba(const std::uint8_t* cdb) { return get_be32(&cdb[CDB10_LBA]); }
inline std::uint16_t cdb10_blocks(const std::uint8_t* cdb) { return get_be16(&cdb[CDB10_TRANSFER_LENGTH]); }

inline void put_cdb10_transfer(std::uint8_t* cdb, std::uint32_t lba, std::uint16_t blocks) {
  put_be32(&cdb[CDB10_LBA], lba);
  put_be16(&cdb[CDB10_TRANSFER_LENGTH], blocks);
}

}  // namespace platform
