#include "files/folder_entries.h"

#include <algorithm>
#include <iterator>

#include "bootarea/little_endian.h"

namespace {

constexpr std::uint8_t ATTR_VOLUME_LABEL = 0x08;
constexpr std::uint8_t ATTR_FOLDER = 0x10;
constexpr std::uint8_t ATTR_LONG_NAME = 0x0F;  // read-only, hidden, system, label: a long-name piece
constexpr std::uint8_t ATTR_LONG_NAME_MASK = 0x3F;
constexpr std::uint8_t DELETED = 0xE5;
constexpr std::uint8_t KANJI_E5 = 0x05;  // a first byte of 0xE5 stored as 0x05
constexpr std::uint8_t LAST_PIECE = 0x40;
constexpr std::uint8_t LOWER_CASE_BASE = 0x08;  // bits of byte 12 that Windows NT set
constexpr std::uint8_t LOWER_CASE_EXTENSION = 0x10;
constexpr int CHARS_PER_PIECE = 13;
constexpr int MAX_PIECES = 20;  // 255 characters
// Where a piece keeps its 13 UTF-16 characters.
constexpr int PIECE_CHAR_OFFSETS[CHARS_PER_PIECE] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

void take_long_name_piece(const std::uint8_t* raw, LongNameState& state) {
  const int order = raw[0] & 0x1F;
  const bool last = (raw[0] & LAST_PIECE) != 0;
  const bool fits = last ? order >= 1 && order <= MAX_PIECES
                         : state.pieces != 0 && order == state.expected && raw[13] == state.checksum;
  if (!fits) {
    state.pieces = 0;
    state.expected = 0;
    return;
  }
  if (last) {
    state.pieces = order;
    state.checksum = raw[13];
    std::fill(std::begin(state.text), std::end(state.text), u'\0');
  }
  for (int i = 0; i < CHARS_PER_PIECE; ++i) {
    state.text[(order - 1) * CHARS_PER_PIECE + i] = static_cast<char16_t>(read_le16(raw + PIECE_CHAR_OFFSETS[i]));
  }
  state.expected = order - 1;
}

// "NAME    EXT" as "NAME.EXT", in lower case where byte 12 says so. Bytes
// past ASCII belong to a code page the entry does not name: shown as '?'.
std::u16string short_name(const std::uint8_t* raw) {
  auto part = [&](int from, int length, bool lower) {
    std::u16string text;
    for (int i = from; i < from + length; ++i) {
      std::uint8_t c = raw[i];
      if (i == 0 && c == KANJI_E5) c = DELETED;
      if (lower && c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
      text.push_back(c < 0x80 ? static_cast<char16_t>(c) : u'?');
    }
    while (!text.empty() && text.back() == u' ') text.pop_back();
    return text;
  };
  std::u16string name = part(0, 8, (raw[12] & LOWER_CASE_BASE) != 0);
  const std::u16string extension = part(8, 3, (raw[12] & LOWER_CASE_EXTENSION) != 0);
  if (!extension.empty()) name += u'.' + extension;
  return name;
}

// The long name when its pieces ran down to the first, whole and for this
// short name.
bool long_name_for(const std::uint8_t* raw, const LongNameState& state, std::u16string& name) {
  if (state.pieces == 0 || state.expected != 0 || state.checksum != short_name_checksum(raw)) return false;
  name.clear();
  for (int i = 0; i < state.pieces * CHARS_PER_PIECE && state.text[i] != u'\0'; ++i) name.push_back(state.text[i]);
  return !name.empty();
}

}  // namespace

std::uint8_t short_name_checksum(const std::uint8_t* name11) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  return sum;
}

EntryKind read_folder_entry(const std::uint8_t* raw, LongNameState& long_name, FolderEntry& entry) {
  if (raw[0] == 0) return ENTRY_END_OF_FOLDER;
  const std::uint8_t attributes = raw[11];
  if (raw[0] == DELETED) {
    long_name.pieces = 0;
    return ENTRY_SKIPPED;
  }
  if ((attributes & ATTR_LONG_NAME_MASK) == ATTR_LONG_NAME) {
    take_long_name_piece(raw, long_name);
    return ENTRY_SKIPPED;
  }
  const bool dot_entry = raw[0] == '.' && (raw[1] == ' ' || (raw[1] == '.' && raw[2] == ' '));
  const bool named = (attributes & ATTR_VOLUME_LABEL) == 0 && !dot_entry;
  if (named && !long_name_for(raw, long_name, entry.name)) entry.name = short_name(raw);
  long_name.pieces = 0;
  long_name.expected = 0;
  if (!named) return ENTRY_SKIPPED;
  entry.first_cluster = ((std::uint32_t{read_le16(raw + 20)} << 16) | read_le16(raw + 26)) & 0x0FFFFFFF;
  entry.size = read_le32(raw + 28);
  entry.folder = (attributes & ATTR_FOLDER) != 0;
  return ENTRY_NAMED;
}
