// The journal format: a journal reads back as written, and a journal damaged
// in any part, or cut short anywhere, is refused whole.
#include <gtest/gtest.h>

#include <cstring>

#include "undo/journal_format.h"

namespace {

Journal sample_journal() {
  Journal journal;
  describe_journal(journal, "TOSHIBA MK6015MAP", 11695320, JOURNAL_OF_REPAIR, "1.07");
  std::uint8_t old_content[JOURNAL_SECTOR_SIZE];
  std::uint8_t new_content[JOURNAL_SECTOR_SIZE];
  for (std::uint32_t s = 0; s < 4; ++s) {
    std::memset(old_content, static_cast<int>(s + 1), sizeof old_content);
    std::memset(new_content, static_cast<int>(s + 0x40), sizeof new_content);
    add_journal_entry(journal, 95 + s, s == 1 ? nullptr : old_content, s == 2 ? nullptr : new_content);
  }
  return journal;
}

TEST(JournalFormat, ReadsBackAsWritten) {
  const Journal written = sample_journal();
  const std::vector<std::uint8_t> bytes = encode_journal(written);
  // Header, 4 entries, 3 saved sectors, 3 part checksums, trailer.
  EXPECT_EQ(bytes.size(), 72u + 4 * 16 + 3 * 512 + 4 + 4 + 16);
  Journal read;
  ASSERT_EQ(decode_journal(bytes, read), "");
  EXPECT_EQ(journal_model_text(read), "TOSHIBA MK6015MAP       ");
  EXPECT_EQ(read.capacity, 11695320u);
  EXPECT_STREQ(read.version.data(), "1.07");
  EXPECT_EQ(read.time, written.time);
  ASSERT_EQ(read.entries.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    const JournalEntry& a = written.entries[i];
    const JournalEntry& b = read.entries[i];
    EXPECT_EQ(b.sector, a.sector);
    EXPECT_EQ(b.old_known, a.old_known);
    EXPECT_EQ(b.new_known, a.new_known);
    EXPECT_EQ(b.old_crc, a.old_crc);
    EXPECT_EQ(b.new_crc, a.new_crc);
    if (a.old_known) {
      EXPECT_EQ(b.old_content, a.old_content);
    }
  }
  EXPECT_FALSE(read.entries[1].old_known);
  EXPECT_FALSE(read.entries[2].new_known);
}

TEST(JournalFormat, EveryDamagedOrShortJournalIsRefused) {
  const std::vector<std::uint8_t> good = encode_journal(sample_journal());
  struct Damage {
    const char* part;
    std::size_t offset;
    const char* reason;
  };
  const std::size_t list = 72;
  const std::size_t data = list + 4 * 16 + 4;
  const std::size_t trailer = data + 3 * 512 + 4;
  const Damage damages[] = {
      {"magic", 0, "it is not an undo journal"},
      {"model", 20, "its header is damaged (checksum)"},
      {"header checksum", 69, "its header is damaged (checksum)"},
      {"sector number", list, "its sector list is damaged (checksum)"},
      {"new checksum", list + 16 + 13, "its sector list is damaged (checksum)"},
      {"list checksum", data - 2, "its sector list is damaged (checksum)"},
      {"old content", data + 600, "its sector data is damaged (checksum)"},
      {"data checksum", trailer - 1, "its sector data is damaged (checksum)"},
      {"trailer magic", trailer + 2, "its trailer is damaged"},
      {"trailer length", trailer + 8, "its trailer is damaged"},
      {"file checksum", trailer + 15, "its trailer is damaged"},
  };
  for (const Damage& damage : damages) {
    std::vector<std::uint8_t> bytes = good;
    bytes[damage.offset] ^= 0x10;
    Journal read;
    EXPECT_EQ(decode_journal(bytes, read), damage.reason) << damage.part;
    EXPECT_TRUE(read.entries.empty()) << damage.part;
  }
  // Cut short at every sector boundary and every part boundary, and one
  // byte longer.
  std::vector<std::size_t> lengths = {0, 71, list, data - 1, data, trailer, trailer + 8, good.size() - 1};
  for (std::size_t length = 512; length < good.size(); length += 512) lengths.push_back(length);
  for (std::size_t length : lengths) {
    Journal read;
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_NE(decode_journal(cut, read), "") << "cut at " << length;
  }
  std::vector<std::uint8_t> longer = good;
  longer.push_back(0);
  Journal read;
  EXPECT_EQ(decode_journal(longer, read), "it has bytes past its trailer");
}

}  // namespace
