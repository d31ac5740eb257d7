// Parsing of the image-disk settings: defaults, every attribute, target id
// allocation and the refusal of malformed entries.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/image/image_disks_config.h"
#include "platform/common/number_text.h"

using platform::ImageDiskConfig;
using platform::parse_image_disks;

namespace {

std::vector<ImageDiskConfig> parse(const std::string& text, std::string& errors) {
  std::ostringstream sink;
  std::vector<ImageDiskConfig> disks = parse_image_disks(text, sink);
  errors = sink.str();
  return disks;
}

int line_count(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(ImageDisksConfig, PlainEntryTakesTheDefaults) {
  std::string errors;
  auto disks = parse("/tmp/disk.img", errors);
  ASSERT_EQ(disks.size(), 1u);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(disks[0].path, "/tmp/disk.img");
  EXPECT_EQ(disks[0].host_adapter, 0);
  EXPECT_EQ(disks[0].target_id, 0);
  EXPECT_EQ(disks[0].model, "TOSHIBA MK6015MAP       ");
  EXPECT_FALSE(disks[0].read_only || disks[0].no_capacity || disks[0].no_inquiry || disks[0].async);
  EXPECT_TRUE(disks[0].bad_reads.empty() && disks[0].bad_writes.empty());
}

TEST(ImageDisksConfig, EveryAttributeIsRead) {
  std::string errors;
  auto disks = parse("b.img,ha=2,id=5,model=FUJITSU MHK2060AT1234567,ro,badread=3+10-12,"
                     "badwrite=0x20,lostwrite=7-8,nocapacity,noinquiry,async",
                     errors);
  ASSERT_EQ(disks.size(), 1u) << errors;
  const ImageDiskConfig& d = disks[0];
  EXPECT_EQ(d.host_adapter, 2);
  EXPECT_EQ(d.target_id, 5);
  EXPECT_EQ(d.model, "FUJITSU MHK2060AT1234567");
  EXPECT_TRUE(d.read_only && d.no_capacity && d.no_inquiry && d.async);
  ASSERT_EQ(d.bad_reads.size(), 2u);
  EXPECT_EQ(d.bad_reads[0].first, 3u);
  EXPECT_EQ(d.bad_reads[0].last, 3u);
  EXPECT_EQ(d.bad_reads[1].first, 10u);
  EXPECT_EQ(d.bad_reads[1].last, 12u);
  ASSERT_EQ(d.bad_writes.size(), 1u);
  EXPECT_EQ(d.bad_writes[0].first, 0x20u);
  ASSERT_EQ(d.lost_writes.size(), 1u);
  EXPECT_EQ(d.lost_writes[0].last, 8u);
}

TEST(ImageDisksConfig, ShortModelIsPaddedAndBlanksKept) {
  std::string errors;
  auto disks = parse("a.img,model= X y", errors);
  ASSERT_EQ(disks.size(), 1u);
  EXPECT_EQ(disks[0].model, std::string(" X y") + std::string(20, ' '));
}

TEST(ImageDisksConfig, FreeIdsAvoidExplicitOnesPerAdapter) {
  std::string errors;
  auto disks = parse("a.img;b.img;c.img,id=0;d.img,ha=1;e.img,id=2", errors);
  ASSERT_EQ(disks.size(), 5u) << errors;
  EXPECT_EQ(errors, "");
  EXPECT_EQ(disks[0].path, "a.img");  // order as written
  EXPECT_EQ(disks[0].target_id, 1);
  EXPECT_EQ(disks[1].target_id, 3);
  EXPECT_EQ(disks[2].target_id, 0);
  EXPECT_EQ(disks[3].host_adapter, 1);
  EXPECT_EQ(disks[3].target_id, 0);
  EXPECT_EQ(disks[4].target_id, 2);
}

TEST(ImageDisksConfig, NinthDiskOnOneAdapterIsLeftOut) {
  std::string text;
  for (int i = 0; i < 9; ++i) text += "d" + std::to_string(i) + ".img;";
  std::string errors;
  auto disks = parse(text, errors);
  EXPECT_EQ(disks.size(), 8u);
  EXPECT_EQ(line_count(errors), 1);
  EXPECT_NE(errors.find("'d8.img'"), std::string::npos) << errors;
}

TEST(ImageDisksConfig, EmptyEntriesAreSkippedSilently) {
  std::string errors;
  auto disks = parse(";a.img;;b.img;", errors);
  EXPECT_EQ(disks.size(), 2u);
  EXPECT_EQ(errors, "");
}

// Each malformed entry costs exactly one line naming it, and the good entry
// beside it is still served.
TEST(ImageDisksConfig, MalformedEntriesAreNamedAndLeftOut) {
  const std::vector<std::string> bad = {
      "x.img,id=8",        "x.img,ha=255",          "x.img,id=x",        "x.img,id=",
      "x.img,id",          "x.img,ha=-1",           "x.img,ro=1",        "x.img,speed=3",
      "x.img,badread=5-3", "x.img,badread=",        "x.img,badread=1++2", "x.img,badwrite=4294967296",
      ",ro",               "x.img,model=1234567890123456789012345",    "x.img,Ro",
  };
  for (const std::string& entry : bad) {
    std::string errors;
    auto disks = parse("good.img;" + entry, errors);
    ASSERT_EQ(disks.size(), 1u) << entry;
    EXPECT_EQ(disks[0].path, "good.img") << entry;
    EXPECT_EQ(line_count(errors), 1) << entry << ": " << errors;
    EXPECT_NE(errors.find("'" + entry + "'"), std::string::npos) << errors;
  }
}

TEST(ImageDisksConfig, SecondClaimOfAnIdIsRefused) {
  std::string errors;
  auto disks = parse("a.img,id=3;b.img,id=3;c.img,ha=1,id=3", errors);
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].path, "a.img");
  EXPECT_EQ(disks[1].path, "c.img");
  EXPECT_NE(errors.find("'b.img,id=3'"), std::string::npos) << errors;
}

TEST(ImageDisksConfig, SectorRangesFindTheLowestHit) {
  const std::vector<platform::SectorRange> ranges = {{10, 12}, {5, 5}, {100, 200}};
  std::uint64_t hit = 0;
  EXPECT_FALSE(platform::find_sector_in_ranges(ranges, 0, 5, hit));
  EXPECT_FALSE(platform::find_sector_in_ranges(ranges, 13, 87, hit));
  EXPECT_FALSE(platform::find_sector_in_ranges(ranges, 5, 0, hit));
  ASSERT_TRUE(platform::find_sector_in_ranges(ranges, 0, 6, hit));
  EXPECT_EQ(hit, 5u);
  ASSERT_TRUE(platform::find_sector_in_ranges(ranges, 11, 100, hit));
  EXPECT_EQ(hit, 11u);
  ASSERT_TRUE(platform::find_sector_in_ranges(ranges, 150, 1, hit));
  EXPECT_EQ(hit, 150u);
}

TEST(NumberText, DecimalHexAndBounds) {
  std::uint64_t v = 0;
  EXPECT_TRUE(platform::parse_unsigned("256", 1000, v));
  EXPECT_EQ(v, 256u);
  EXPECT_TRUE(platform::parse_unsigned("0x0100", 0xFFFF, v));
  EXPECT_EQ(v, 0x100u);
  EXPECT_TRUE(platform::parse_unsigned("0XfF", 0xFF, v));
  EXPECT_EQ(v, 0xFFu);
  EXPECT_TRUE(platform::parse_unsigned("4294967295", UINT32_MAX, v));
  EXPECT_EQ(v, UINT32_MAX);
  EXPECT_FALSE(platform::parse_unsigned("4294967296", UINT32_MAX, v));
  EXPECT_FALSE(platform::parse_unsigned("0x100000000", UINT32_MAX, v));
  EXPECT_FALSE(platform::parse_unsigned("8", 7, v));
  EXPECT_FALSE(platform::parse_unsigned("99999999999999999999999", UINT64_MAX, v));
  for (const char* bad : {"", "0x", "12a", " 1", "+1", "0xg", "1 "}) {
    EXPECT_FALSE(platform::parse_unsigned(bad, UINT32_MAX, v)) << bad;
  }
}

}  // namespace
