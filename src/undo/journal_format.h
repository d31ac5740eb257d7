// The undo journal: the content of every sector a repair is about to
// overwrite, saved before the first write so that the repair can be undone
// (tessaly-undo). One file per repair, binary, every number little-endian,
// every part covered by a CRC-32 (zlib's crc32, the polynomial of zip and
// PNG).
//
//   Header, 72 bytes
//     0   8  magic "TSLYUNDO"
//     8   4  format version, 1
//    12   4  number of sectors in the list, N
//    16  24  the disk's model text: INQUIRY bytes 8-31 (vendor 8, product 16)
//    40   4  the disk's capacity in sectors (READ CAPACITY; 0 = unknown)
//    44   4  what wrote the journal: 1 = a repair by tessaly, 2 = a restore
//            by tessaly-undo
//    48   8  when, in seconds since 1970-01-01 00:00 UTC
//    56  12  the version of the program that wrote it, text, zero padded
//    68   4  CRC-32 of bytes 0-67
//   Sector list, N entries of 16 bytes in the order of writing, then 4 bytes:
//   the CRC-32 of the N entries
//     0   4  sector number (LBA)
//     4   1  1 = the old content follows in the data part; 0 = the sector
//            could not be read before the write: never restored
//     5   1  1 = the CRC of the new content is known; 0 = the sector is not
//            written after all (its source could not be read)
//     6   2  0
//     8   4  CRC-32 of the old content (0 when there is none)
//    12   4  CRC-32 of the content the write puts there (0 when unknown)
//   Data: the old content of each entry that has one, 512 bytes each, in
//   list order, then 4 bytes: the CRC-32 of the data part
//   Trailer, 16 bytes
//     0   8  magic "TSLYEND" and a zero byte
//     8   4  length of the whole file in bytes
//    12   4  CRC-32 of the whole file before these 4 bytes
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int JOURNAL_SECTOR_SIZE = 512;
constexpr std::uint32_t JOURNAL_FORMAT_VERSION = 1;
constexpr int JOURNAL_MODEL_LENGTH = 24;
constexpr int JOURNAL_VERSION_LENGTH = 12;
constexpr std::size_t JOURNAL_HEADER_SIZE = 72;
constexpr std::size_t JOURNAL_ENTRY_SIZE = 16;
constexpr std::size_t JOURNAL_TRAILER_SIZE = 16;

enum JournalKind : std::uint32_t { JOURNAL_OF_REPAIR = 1, JOURNAL_OF_RESTORE = 2 };

using SectorBytes = std::array<std::uint8_t, JOURNAL_SECTOR_SIZE>;

// The old content lives outside the entry, and only when it was saved: a
// journal's memory then follows its file's length, however many entries
// without content its list holds.
struct JournalEntry {
  std::uint32_t sector = 0;
  bool old_known = false;
  bool new_known = false;
  std::uint32_t old_crc = 0;
  std::uint32_t new_crc = 0;
  std::vector<std::uint8_t> old_content;  // JOURNAL_SECTOR_SIZE bytes when old_known, else empty
};

struct Journal {
  std::array<char, JOURNAL_MODEL_LENGTH> model{};
  std::uint32_t capacity = 0;
  std::uint32_t kind = JOURNAL_OF_REPAIR;
  std::int64_t time = 0;
  std::array<char, JOURNAL_VERSION_LENGTH> version{};
  std::vector<JournalEntry> entries;
};

std::uint32_t sector_crc(const std::uint8_t* sector);

// Appends one sector about to be written; `old_content` is nullptr when the
// sector could not be read, `new_content` nullptr when it will not be written.
void add_journal_entry(Journal& journal, std::uint32_t sector, const std::uint8_t* old_content,
                       const std::uint8_t* new_content);

// Fills model, version and time.
void describe_journal(Journal& journal, const char* model, std::uint32_t capacity, std::uint32_t kind,
                      const char* version);

std::vector<std::uint8_t> encode_journal(const Journal& journal);

// Empty when `bytes` is a complete journal whose every checksum holds, whose
// counts fit its length and which lists no sector twice, else what is wrong
// with it; `journal` is filled only on success. Nothing is allocated for the
// entries before their counts are known to fit the length.
std::string decode_journal(const std::vector<std::uint8_t>& bytes, Journal& journal);

// The model text as printable text, trailing blanks kept.
std::string journal_model_text(const Journal& journal);
