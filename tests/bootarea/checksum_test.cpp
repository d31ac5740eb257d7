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

// Reads an n-byte little-endian field.
std::uint32_t field(const std::uint8_t* sector, int offset, int size) {
  std::uint32_t value = 0;
  for (int k = size - 1; k >= 0; --k) value = value << 8 | sector[offset + k];
  return value;
}

struct Field {
  int offset, size;
  std::uint32_t value;
};

TEST(Templates, BootSectorFields) {
  const Field fields[] = {
      {0, 3, 0x905AEB}, {11, 2, 512}, {13, 1, 8}, {14, 2, 32}, {16, 1, 2}, {17, 2, 0},
      {19, 2, 0}, {21, 1, 0xF8}, {22, 2, 0}, {24, 2, 63}, {26, 2, 255}, {28, 4, 63},
      {32, 4, 11695257}, {36, 4, 11399}, {40, 2, 0}, {42, 2, 0}, {44, 4, 2}, {48, 2, 1},
      {50, 2, 6}, {52, 4, 0}, {56, 4, 0}, {60, 4, 0}, {64, 1, 0x80}, {65, 1, 0},
      {66, 1, 0x29}, {67, 4, 0x1CE83E41}, {510, 2, 0xAA55}};
  for (const Field& f : fields) {
    EXPECT_EQ(field(BOOT_SECTOR_TEMPLATE, f.offset, f.size), f.value) << "byte " << f.offset;
  }
  EXPECT_EQ(std::memcmp(BOOT_SECTOR_TEMPLATE + 3, "*&hnwIHC", 8), 0);
  EXPECT_EQ(std::memcmp(BOOT_SECTOR_TEMPLATE + 71, "PELLORA    FAT32   ", 19), 0);
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
  int message = static_cast<int>(field(mov_si, 1, 2)) - 0x7C00;
  ASSERT_GE(message, 90);
  ASSERT_LT(message, 510);
  const char* text = reinterpret_cast<const char*>(t + message);
  ASSERT_NE(std::memchr(text, 0, 510 - message), nullptr);
  EXPECT_NE(std::strstr(text, "Not a system disk"), nullptr);
}

TEST(Templates, FsinfoFields) {
  const Field fields[] = {{0, 4, 0x41615252}, {484, 4, 0x61417272}, {488, 4, 1450828},
                          {492, 4, 2}, {508, 4, 0xAA550000}};
  for (const Field& f : fields) {
    EXPECT_EQ(field(FSINFO_TEMPLATE, f.offset, f.size), f.value) << "byte " << f.offset;
  }
  for (int k = 4; k < 508; ++k) {
    if (k < 484 || k >= 496) {
      EXPECT_EQ(FSINFO_TEMPLATE[k], 0) << k;
    }
  }
}

}  // namespace
