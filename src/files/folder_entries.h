// The 32-byte entries of a FAT folder, and the long names (VFAT) that run of
// entries before a short entry spell. A long name counts only when its
// pieces come in order, complete, and carry the checksum of the short name
// they stand before; otherwise the short 8.3 name stands.
#pragma once

#include <cstdint>
#include <string>

constexpr std::uint32_t FOLDER_ENTRY_SIZE = 32;

// One entry that names a file or folder: no deleted entry, no volume label,
// no long-name piece, no "." or "..".
struct FolderEntry {
  std::u16string name;
  std::uint32_t first_cluster = 0;
  std::uint32_t size = 0;
  bool folder = false;
};

// The pieces of a long name seen so far, carried from entry to entry (and
// from one cluster of the folder to the next).
struct LongNameState {
  char16_t text[20 * 13] = {};
  int expected = 0;   // the piece that must come next, 0 when none is under way
  int pieces = 0;     // how many pieces the name has
  std::uint8_t checksum = 0;
};

enum EntryKind { ENTRY_NAMED, ENTRY_SKIPPED, ENTRY_END_OF_FOLDER };

// Reads one 32-byte entry. ENTRY_NAMED fills `entry`; ENTRY_END_OF_FOLDER
// is the mark (first byte 0) behind the folder's last entry.
EntryKind read_folder_entry(const std::uint8_t* raw, LongNameState& long_name, FolderEntry& entry);

// The checksum of an 11-byte short name that each of its long-name pieces
// carries.
std::uint8_t short_name_checksum(const std::uint8_t* name11);
