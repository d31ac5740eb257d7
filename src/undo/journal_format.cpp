#include "undo/journal_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

constexpr char HEADER_MAGIC[8] = {'T', 'S', 'L', 'Y', 'U', 'N', 'D', 'O'};
constexpr char TRAILER_MAGIC[8] = {'T', 'S', 'L', 'Y', 'E', 'N', 'D', '\0'};

std::uint32_t crc_of(const std::uint8_t* data, std::size_t length) {
  return static_cast<std::uint32_t>(::crc32(::crc32(0L, Z_NULL, 0), data, static_cast<uInt>(length)));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put_bytes(std::vector<std::uint8_t>& out, const void* data, std::size_t length) {
  const std::size_t at = out.size();
  out.resize(at + length);
  std::memcpy(out.data() + at, data, length);
}

void put_crc_of_part(std::vector<std::uint8_t>& out, std::size_t part_start) {
  put32(out, crc_of(out.data() + part_start, out.size() - part_start));
}

std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::uint64_t get64(const std::uint8_t* p) { return get32(p) | std::uint64_t{get32(p + 4)} << 32; }

// True when the CRC-32 stored right behind [start, start + length) matches.
bool part_sound(const std::vector<std::uint8_t>& bytes, std::size_t start, std::size_t length) {
  return get32(bytes.data() + start + length) == crc_of(bytes.data() + start, length);
}

std::string decode_header(const std::vector<std::uint8_t>& bytes, Journal& journal, std::uint32_t& count) {
  if (bytes.size() < JOURNAL_HEADER_SIZE) return "it is shorter than its header";
  if (std::memcmp(bytes.data(), HEADER_MAGIC, sizeof HEADER_MAGIC) != 0) return "it is not an undo journal";
  if (!part_sound(bytes, 0, JOURNAL_HEADER_SIZE - 4)) return "its header is damaged (checksum)";
  const std::uint8_t* p = bytes.data();
  if (get32(p + 8) != JOURNAL_FORMAT_VERSION) return "its format version is not 1";
  count = get32(p + 12);
  std::memcpy(journal.model.data(), p + 16, JOURNAL_MODEL_LENGTH);
  journal.capacity = get32(p + 40);
  journal.kind = get32(p + 44);
  journal.time = static_cast<std::int64_t>(get64(p + 48));
  std::memcpy(journal.version.data(), p + 56, JOURNAL_VERSION_LENGTH);
  journal.version.back() = '\0';
  return {};
}

// How many entries of the list have their old content in the data part.
std::size_t saved_sectors(const std::uint8_t* list, std::uint32_t count) {
  std::size_t saved = 0;
  for (std::uint32_t i = 0; i < count; ++i) saved += list[i * JOURNAL_ENTRY_SIZE + 4] == 1 ? 1 : 0;
  return saved;
}

// A sector listed twice would be put back twice, the later entry winning,
// and the restore's own journal could not undo that: such a journal was not
// written by a repair and is refused.
std::string sector_listed_twice(const std::uint8_t* list, std::uint32_t count) {
  std::vector<std::uint32_t> sectors(count);
  for (std::uint32_t i = 0; i < count; ++i) sectors[i] = get32(list + i * JOURNAL_ENTRY_SIZE);
  std::sort(sectors.begin(), sectors.end());
  const auto twice = std::adjacent_find(sectors.begin(), sectors.end());
  if (twice == sectors.end()) return {};
  return "it lists sector " + std::to_string(*twice) + " twice";
}

// The entries with their saved content, each checked against its CRC.
std::string decode_entries(const std::uint8_t* list, std::uint32_t count, const std::uint8_t* data, Journal& read) {
  read.entries.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* p = list + i * JOURNAL_ENTRY_SIZE;
    JournalEntry& entry = read.entries[i];
    entry.sector = get32(p);
    entry.old_known = p[4] == 1;
    entry.new_known = p[5] == 1;
    entry.old_crc = get32(p + 8);
    entry.new_crc = get32(p + 12);
    if (!entry.old_known) continue;
    entry.old_content.assign(data, data + JOURNAL_SECTOR_SIZE);
    data += JOURNAL_SECTOR_SIZE;
    if (sector_crc(entry.old_content.data()) != entry.old_crc) {
      read.entries.clear();
      return "the saved content of sector " + std::to_string(entry.sector) + " does not match its checksum";
    }
  }
  return {};
}

}  // namespace

std::uint32_t sector_crc(const std::uint8_t* sector) { return crc_of(sector, JOURNAL_SECTOR_SIZE); }

void add_journal_entry(Journal& journal, std::uint32_t sector, const std::uint8_t* old_content,
                       const std::uint8_t* new_content) {
  JournalEntry& entry = journal.entries.emplace_back();
  entry.sector = sector;
  entry.old_known = old_content != nullptr;
  entry.new_known = new_content != nullptr;
  if (old_content != nullptr) {
    entry.old_content.assign(old_content, old_content + JOURNAL_SECTOR_SIZE);
    entry.old_crc = sector_crc(old_content);
  }
  if (new_content != nullptr) entry.new_crc = sector_crc(new_content);
}

void describe_journal(Journal& journal, const char* model, std::uint32_t capacity, std::uint32_t kind,
                      const char* version) {
  journal.model.fill(' ');
  std::memcpy(journal.model.data(), model, std::min<std::size_t>(std::strlen(model), JOURNAL_MODEL_LENGTH));
  journal.capacity = capacity;
  journal.kind = kind;
  journal.time = static_cast<std::int64_t>(std::time(nullptr));
  journal.version.fill('\0');
  std::memcpy(journal.version.data(), version, std::min<std::size_t>(std::strlen(version), JOURNAL_VERSION_LENGTH - 1));
}

std::vector<std::uint8_t> encode_journal(const Journal& journal) {
  std::vector<std::uint8_t> out;
  out.reserve(JOURNAL_HEADER_SIZE + journal.entries.size() * (JOURNAL_ENTRY_SIZE + JOURNAL_SECTOR_SIZE) + 64);
  put_bytes(out, HEADER_MAGIC, sizeof HEADER_MAGIC);
  put32(out, JOURNAL_FORMAT_VERSION);
  put32(out, static_cast<std::uint32_t>(journal.entries.size()));
  put_bytes(out, journal.model.data(), journal.model.size());
  put32(out, journal.capacity);
  put32(out, journal.kind);
  put64(out, static_cast<std::uint64_t>(journal.time));
  put_bytes(out, journal.version.data(), journal.version.size());
  put_crc_of_part(out, 0);

  const std::size_t list_start = out.size();
  for (const JournalEntry& entry : journal.entries) {
    put32(out, entry.sector);
    out.push_back(entry.old_known ? 1 : 0);
    out.push_back(entry.new_known ? 1 : 0);
    out.push_back(0);
    out.push_back(0);
    put32(out, entry.old_crc);
    put32(out, entry.new_crc);
  }
  put_crc_of_part(out, list_start);

  const std::size_t data_start = out.size();
  for (const JournalEntry& entry : journal.entries) {
    if (entry.old_known) put_bytes(out, entry.old_content.data(), entry.old_content.size());
  }
  put_crc_of_part(out, data_start);

  put_bytes(out, TRAILER_MAGIC, sizeof TRAILER_MAGIC);
  put32(out, static_cast<std::uint32_t>(out.size() + 8));
  put_crc_of_part(out, 0);
  return out;
}

std::string decode_journal(const std::vector<std::uint8_t>& bytes, Journal& journal) {
  Journal read;
  std::uint32_t count = 0;
  std::string problem = decode_header(bytes, read, count);
  if (!problem.empty()) return problem;
  const std::size_t list_start = JOURNAL_HEADER_SIZE;
  const std::size_t list_length = std::size_t{count} * JOURNAL_ENTRY_SIZE;
  if (bytes.size() < list_start + list_length + 4) return "it ends inside its sector list";
  if (!part_sound(bytes, list_start, list_length)) return "its sector list is damaged (checksum)";
  const std::uint8_t* list = bytes.data() + list_start;
  const std::size_t data_length = saved_sectors(list, count) * JOURNAL_SECTOR_SIZE;
  const std::size_t data_start = list_start + list_length + 4;
  const std::size_t trailer_start = data_start + data_length + 4;
  if (bytes.size() < trailer_start) return "it ends inside its sector data";
  if (!part_sound(bytes, data_start, data_length)) return "its sector data is damaged (checksum)";
  if (bytes.size() != trailer_start + JOURNAL_TRAILER_SIZE) {
    return bytes.size() < trailer_start + JOURNAL_TRAILER_SIZE ? "it ends inside its trailer"
                                                               : "it has bytes past its trailer";
  }
  const std::uint8_t* trailer = bytes.data() + trailer_start;
  if (std::memcmp(trailer, TRAILER_MAGIC, sizeof TRAILER_MAGIC) != 0 || get32(trailer + 8) != bytes.size() ||
      !part_sound(bytes, 0, bytes.size() - 4)) {
    return "its trailer is damaged";
  }
  problem = sector_listed_twice(list, count);
  if (!problem.empty()) return problem;
  problem = decode_entries(list, count, bytes.data() + data_start, read);
  if (!problem.empty()) return problem;
  journal = std::move(read);
  return {};
}

std::string journal_model_text(const Journal& journal) {
  std::string text(journal.model.begin(), journal.model.end());
  for (char& c : text) {
    if (c < 0x20 || c > 0x7e) c = '?';
  }
  return text;
}
