// The summing rule that marks the copies, and the two templates.
#include <gtest/gtest.h>

#include <cstring>

#include "bootarea/checksum.h"
#include "bootarea/templates.h"

namespace {

TEST(SectorChecksum, AllZeroCopyFailsAlthoughSumMatches) {
  std::uint8_t sector[512] = {};
  EXPECT_EQ(sector_checksum(sector).sum, 0);
  EXPECT_FALSE(checksum_holds(sector_checksum(sector), sector));
}

TEST(SectorChecksum, BytesAreUnsigned) {
  std::uint8_t sector[512] = {};
  sector[100] = 0x80;
  sector[511] = 0x80;
  EXPECT_TRUE(checksum_holds(sector_checksum(sector), sector));
  sector[510] = 0xFF;  // what a signed 0x80 would sum to
  EXPECT_FALSE(checksum_holds(sector_checksum(sector), sector));
}

TEST(SectorChecksum, WrapsAtSixteenBitsAndIgnoresStoredBytes) {
  std::uint8_t sector[512];
  std::memset(sector, 0xFF, sizeof sector);
  EXPECT_EQ(sector_checksum(sector).sum, 0xFC02);  // 510 x 255 = 130,050
  store_checksum(sector, sector_checksum(sector).sum);
  EXPECT_EQ(sector[510], 0xFC);
  EXPECT_EQ(sector[511], 0x02);
  EXPECT_TRUE(checksum_holds(sector_checksum(sector), sector));
}

TEST(SectorChecksum, StoredBigEndian) {
  std::uint8_t sector[512] = {};
  store_checksum(sector, 0x1234);
  EXPECT_EQ(sector[510], 0x12);
  EXPECT_EQ(sector[511], 0x34);
  EXPECT_EQ(stored_checksum(sector), 0x1234);
}

TEST(PairChecksum, CoversWholeBootSectorAndFsinfoUpTo509) {
  std::uint8_t boot[512] = {};
  std::uint8_t fsinfo[512] = {};
  set_boot_signature(boot);
  fsinfo[510] = 0x00;
  fsinfo[511] = 0xFF;  // 0x55 + 0xAA
  EXPECT_TRUE(checksum_holds(pair_checksum(boot, fsinfo), fsinfo));
  fsinfo[511] = 0xFE;
  EXPECT_FALSE(checksum_holds(pair_checksum(boot, fsinfo), fsinfo));
  // The FSInfo sector's own last bytes take no part in the sum.
  std::uint8_t other[512] = {};
  other[510] = 0x12;
  EXPECT_EQ(pair_checksum(boot, other).sum, 0x00FF);
}

TEST(PairChecksum, AllZeroPairFails) {
  std::uint8_t boot[512] = {};
  std::uint8_t fsinfo[512] = {};
  EXPECT_FALSE(checksum_holds(pair_checksum(boot, fsinfo), fsinfo));
  // Non-zero stored bytes do not make the summed bytes count as non-zero.
  fsinfo[511] = 0x07;
  EXPECT_FALSE(pair_checksum(boot, fsinfo).any_nonzero);
  EXPECT_FALSE(sector_checksum(fsinfo).any_nonzero);
}

TEST(PairChecksum, RunsAddUpAndWrap) {
  ByteSum total;
  total.sum = 0xFFFE;
  const std::uint8_t bytes[] = {0x01, 0x02};
  add_bytes(total, bytes, 2);
  EXPECT_EQ(total.sum, 0x0001);
  EXPECT_TRUE(total.any_nonzero);
}

TEST(BootSignature, SetAndRecognised) {
  std::uint8_t sector[512] = {};
  EXPECT_FALSE(has_boot_signature(sector));
  set_boot_signature(sector);
  EXPECT_EQ(sector[510], 0x55);
  EXPECT_EQ(sector[511], 0xAA);
  EXPECT_TRUE(has_boot_signature(sector));
  sector[511] = 0x55;
  EXPECT_FALSE(has_boot_signature(sector));
}

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
unsigned le16(const std::uint8_t* p) { return p[0] | p[1] << 8; }

TEST(Templates, BootSectorFields) {
  const std::uint8_t* t = BOOT_SECTOR_TEMPLATE;
  const std::uint8_t jump[] = {0xEB, 0x5A, 0x90};
  EXPECT_EQ(std::memcmp(t, jump, 3), 0);
  EXPECT_EQ(std::memcmp(t + 3, "*&hnwIHC", 8), 0);
  EXPECT_EQ(le16(t + 11), 512u);
  EXPECT_EQ(t[13], 8);
  EXPECT_EQ(le16(t + 14), 32u);
  EXPECT_EQ(t[16], 2);
  EXPECT_EQ(le16(t + 17), 0u);
  EXPECT_EQ(le16(t + 19), 0u);
  EXPECT_EQ(t[21], 0xF8);
  EXPECT_EQ(le16(t + 22), 0u);
  EXPECT_EQ(le16(t + 24), 63u);
  EXPECT_EQ(le16(t + 26), 255u);
  EXPECT_EQ(le32(t + 28), 63u);
  EXPECT_EQ(le32(t + 32), 11695257u);
  EXPECT_EQ(le32(t + 36), 11399u);
  EXPECT_EQ(le16(t + 40), 0u);
  EXPECT_EQ(le16(t + 42), 0u);
  EXPECT_EQ(le32(t + 44), 2u);
  EXPECT_EQ(le16(t + 48), 1u);
  EXPECT_EQ(le16(t + 50), 6u);
  for (int k = 52; k < 64; ++k) EXPECT_EQ(t[k], 0) << k;
  EXPECT_EQ(t[64], 0x80);
  EXPECT_EQ(t[65], 0x00);
  EXPECT_EQ(t[66], 0x29);
  EXPECT_EQ(le32(t + 67), 0x1CE83E41u);
  EXPECT_EQ(std::memcmp(t + 71, "PELLORA    ", 11), 0);
  EXPECT_EQ(std::memcmp(t + 82, "FAT32   ", 8), 0);
  EXPECT_EQ(t[510], 0x55);
  EXPECT_EQ(t[511], 0xAA);
}

// The jump lands on the first instruction, and the message the bootstrap
// loads into SI (0x7C00-based) is a zero-ended text inside bytes 90-509.
TEST(Templates, BootstrapEntryAndMessage) {
  const std::uint8_t* t = BOOT_SECTOR_TEMPLATE;
  int entry = 2 + t[1];
  ASSERT_GE(entry, 90);
  EXPECT_EQ(t[entry], 0xFA);  // cli
  const std::uint8_t* mov_si = nullptr;
  for (int k = entry; k < 510 - 2 && mov_si == nullptr; ++k) {
    if (t[k] == 0xBE) mov_si = t + k;
  }
  ASSERT_NE(mov_si, nullptr);
  int message = le16(mov_si + 1) - 0x7C00;
  ASSERT_GE(message, 90);
  ASSERT_LT(message, 510);
  const char* text = reinterpret_cast<const char*>(t + message);
  ASSERT_NE(std::memchr(text, 0, 510 - message), nullptr);
  EXPECT_NE(std::strstr(text, "Not a system disk"), nullptr);
}

TEST(Templates, FsinfoFields) {
  const std::uint8_t* t = FSINFO_TEMPLATE;
  EXPECT_EQ(le32(t), 0x41615252u);
  for (int k = 4; k < 484; ++k) EXPECT_EQ(t[k], 0) << k;
  EXPECT_EQ(le32(t + 484), 0x61417272u);
  EXPECT_EQ(le32(t + 488), 1450828u);
  EXPECT_EQ(le32(t + 492), 2u);
  for (int k = 496; k < 510; ++k) EXPECT_EQ(t[k], 0) << k;
  EXPECT_EQ(t[510], 0x55);
  EXPECT_EQ(t[511], 0xAA);
}

}  // namespace
