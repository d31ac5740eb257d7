// The journal format: a journal reads back as written, and a journal damaged
// in any part, cut short anywhere or crafted, is refused whole; journals
// are stored under names of their own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include "undo/durable_file.h"
#include "undo/journal_format.h"
#include "undo/journal_store.h"

namespace {

void put_le32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Stores a fresh CRC-32 of [start, start + length) right behind it, and
// of the whole file in its last four bytes.
void reseal(std::vector<std::uint8_t>& bytes, std::size_t start, std::size_t length) {
  put_le32(bytes.data() + start + length, static_cast<std::uint32_t>(crc32(0, bytes.data() + start, static_cast<uInt>(length))));
  const std::size_t whole = bytes.size() - 4;
  put_le32(bytes.data() + whole, static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(whole))));
}

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

// Journals whose every checksum holds but which no repair writes: a sector
// listed twice, and counts that promise more than the file holds.
TEST(JournalFormat, CraftedJournalsAreRefused) {
  Journal twice = sample_journal();
  twice.entries[3].sector = twice.entries[0].sector;
  Journal read;
  EXPECT_EQ(decode_journal(encode_journal(twice), read), "it lists sector 95 twice");
  EXPECT_TRUE(read.entries.empty());

  // A list of a hundred million entries claimed by a file of a few hundred
  // bytes, and a saved flag set on an entry whose content is not there.
  std::vector<std::uint8_t> many = encode_journal(sample_journal());
  put_le32(many.data() + 12, 100000000);
  reseal(many, 0, 68);
  EXPECT_EQ(decode_journal(many, read), "it ends inside its sector list");
  std::vector<std::uint8_t> flagged = encode_journal(sample_journal());
  flagged[72 + 16 + 4] = 1;  // the second entry, saved without content
  reseal(flagged, 72, 4 * 16);
  EXPECT_EQ(decode_journal(flagged, read), "it ends inside its sector data");
  EXPECT_TRUE(read.entries.empty());
}

// Repairs started at once into one folder, in the same second, and a link
// planted where the first journal's name will be: each repair takes a name
// of its own by creating it, the link and what it points at stay as they
// were, and every journal reads back whole.
TEST(JournalStore, RepairsAtOnceKeepJournalsOfTheirOwn) {
  const std::string folder = testing::TempDir() + "tessaly-journals-at-once";
  std::system(("rm -rf '" + folder + "'").c_str());
  ASSERT_EQ(make_folders(folder), "");
  Journal journal = sample_journal();
  journal.time = 1700000000;  // 2023-11-14 22:13:20 UTC
  const std::string target = folder + "/elsewhere";
  ASSERT_EQ(symlink(target.c_str(), (folder + "/repair-20231114-221320.undo").c_str()), 0);

  constexpr int RUNS = 6;
  std::vector<std::string> names(RUNS);
  std::vector<std::string> problems(RUNS);
  std::vector<std::thread> runs;
  for (int i = 0; i < RUNS; ++i) {
    runs.emplace_back([&, i] {
      Journal own = journal;
      own.entries[0].new_crc = static_cast<std::uint32_t>(i);  // tells the journals apart
      problems[i] = keep_journal(JournalPlace{false, folder}, own, "repair", names[i]);
    });
  }
  for (std::thread& run : runs) run.join();

  std::set<std::string> distinct;
  for (int i = 0; i < RUNS; ++i) {
    ASSERT_EQ(problems[i], "");
    distinct.insert(names[i]);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(read_whole_file(names[i], bytes));
    Journal back;
    ASSERT_EQ(decode_journal(bytes, back), "") << names[i];
    EXPECT_EQ(back.entries[0].new_crc, static_cast<std::uint32_t>(i)) << names[i];
    struct stat info {};
    ASSERT_EQ(lstat(names[i].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << names[i];
  }
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(RUNS));
  EXPECT_EQ(distinct.count(folder + "/repair-20231114-221320.undo"), 0u);
  struct stat info {};
  EXPECT_NE(lstat(target.c_str(), &info), 0) << "a journal was written through the planted link";
}

}  // namespace
