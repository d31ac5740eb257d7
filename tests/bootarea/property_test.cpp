// Many boot areas made from sound ones by zeroing, flipping, swapping and
// re-checksumming sectors and bytes, each assessed and checked against what
// must hold after any assessment. The generator starts from a fixed value, so a failure repeats.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <map>

#include "boot_area_fixture.h"
#include "boot_area_invariants.h"
#include "bootarea/boot_pair.h"

namespace {

constexpr int ITERATIONS = 4000;

class Mutator {
 public:
  explicit Mutator(std::uint32_t start) : random_(start) {}

  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(random_() % n); }

  // Sectors that matter most are picked more often.
  int role_sector() {
    static const int roles[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 23, 26, 29,
                                63, 64, 66, 67, 69, 70, 72, 73, 84, 94};
    return below(4) == 0 ? static_cast<int>(below(BOOT_AREA_SECTORS))
                         : roles[below(sizeof roles / sizeof roles[0])];
  }

  int field_offset() {
    static const int fields[] = {13, 17, 18, 22, 23, 82, 86, 450, 454, 455, 457, 466, 510, 511};
    return below(2) == 0 ? static_cast<int>(below(512)) : fields[below(sizeof fields / sizeof fields[0])];
  }

  std::uint32_t volume_start() {
    static const std::uint32_t starts[] = {0, 1, 20, 63, 84, 85, 93, 94, 0xFFFFFFFF, 0xFFFFFFFD,
                                           0x80000000, 2048};
    return below(3) == 0 ? static_cast<std::uint32_t>(random_())
                         : starts[below(sizeof starts / sizeof starts[0])];
  }

  std::uint32_t capacity() {
    static const std::uint32_t capacities[] = {0, 1, 63, 64, fixture::PLAYER_CAPACITY, 0xFFFFFFFF};
    return below(2) == 0 ? static_cast<std::uint32_t>(random_())
                         : capacities[below(sizeof capacities / sizeof capacities[0])];
  }

  void start(BootAreaImage& image) {
    switch (below(7)) {
      case 5:  // an MBR whose volume has lost every boot pair
        fixture::make_partitioned(image);
        for (int n : {63, 66, 69, 72}) image.sector(n)[82 + below(5)] ^= 0x20;
        break;
      case 4:  // a volume at 63 that has lost its MBR and every copy
        fixture::make_partitioned(image);
        for (int k = 0; k < 8; ++k) std::memset(image.sector(k), below(2) == 0 ? 0 : 0x5A, 512);
        break;
      case 0: fixture::make_unpartitioned(image); break;
      case 1: std::memset(image.bytes, 0, sizeof image.bytes); break;
      case 2:
        for (auto& byte : image.bytes) byte = static_cast<std::uint8_t>(random_());
        break;
      default: fixture::make_partitioned(image); break;
    }
  }

  void mutate(BootAreaImage& image) {
    int n = role_sector();
    std::uint8_t* s = image.sector(n);
    switch (below(9)) {
      case 0: std::memset(s, 0, 512); break;
      case 1: s[field_offset()] ^= static_cast<std::uint8_t>(1u << below(8)); break;
      case 2: s[field_offset()] = static_cast<std::uint8_t>(random_()); break;
      case 3: std::swap_ranges(s, s + 512, image.sector(role_sector())); break;
      case 4: std::swap(s[below(512)], image.sector(role_sector())[below(512)]); break;
      case 5: std::memcpy(s, image.sector(role_sector()), 512); break;
      case 6: move_volume(image); break;
      case 7: fixture::checksum_mbr_copy(s); break;
      default:
        if (n + 1 < BOOT_AREA_SECTORS) fixture::checksum_pair_copy(s, image.sector(n + 1));
        break;
    }
  }

 private:
  // A new first sector in one entry of sector 0 or of a copy, re-marked so
  // that it is still accepted; sometimes a sound volume goes there too.
  void move_volume(BootAreaImage& image) {
    int i = static_cast<int>(below(8));
    std::uint32_t first = volume_start();
    fixture::make_mbr(image.sector(i), static_cast<int>(below(4)), 0x0B, first);
    if (i > 0) fixture::checksum_mbr_copy(image.sector(i));
    if (below(2) == 0) fixture::write_volume(image, static_cast<std::int32_t>(first));
  }

  std::mt19937 random_;
};

TEST(AssessmentProperty, EveryOutcomeKeepsToItsSectors) {
  Mutator mutator(20261208);
  std::map<BootAreaStatus, int> seen;
  int rebuilt_from_copy = 0;
  for (int iteration = 0; iteration < ITERATIONS; ++iteration) {
    BootAreaImage image;
    mutator.start(image);
    int mutations = static_cast<int>(mutator.below(6));
    for (int k = 0; k < mutations; ++k) mutator.mutate(image);
    BootAreaImage before = image;
    std::uint32_t capacity = mutator.capacity();
    std::string fault = invariants::assess_and_check(image, capacity);
    ASSERT_EQ(fault, "") << "iteration " << iteration;
    BootAreaImage again = before;
    BootAreaStatus status = assess_boot_area(again, capacity);
    seen[status] += 1;
    if (status == 0x0803 && boot_check_pair(again, 0) != PAIR_VALID) rebuilt_from_copy += 1;
  }
  // The generator must reach every outcome often, or the property says little.
  EXPECT_EQ(seen.size(), 11u);
  for (auto [status, count] : seen) {
    EXPECT_TRUE(invariants::is_outcome(status)) << status;
    EXPECT_EQ(status & 0xE0FC, 0) << status;
    EXPECT_GE(count, 10) << status;
  }
  EXPECT_GE(rebuilt_from_copy, 10);
}

// The checks themselves must notice a wrong outcome or a stray write.
TEST(AssessmentProperty, InvariantsCatchFaults) {
  BootAreaImage before;
  fixture::make_partitioned(before);
  volume_geometry.volume_start = 63;
  BootAreaImage after = before;
  EXPECT_EQ(invariants::check_assessment(before, after, 0x0003, 0), "");
  EXPECT_NE(invariants::check_assessment(before, after, 0x0000, 0), "");
  EXPECT_NE(invariants::check_assessment(before, after, 0x0007, 0), "");
  EXPECT_NE(invariants::check_assessment(before, after, 0x2003, 0), "");
  after.sector(65)[0] ^= 1;
  EXPECT_NE(invariants::check_assessment(before, after, 0x0003, 0), "");
  after = before;
  after.sector(66)[0] ^= 1;
  EXPECT_EQ(invariants::check_assessment(before, after, 0x0003, 0), "");
  EXPECT_NE(invariants::check_assessment(before, after, 0x0203, 0), "");
  EXPECT_NE(invariants::check_assessment(before, after, 0x0403, 0), "");  // no templates
  volume_geometry.volume_start = 0;
  EXPECT_NE(invariants::check_assessment(before, after, 0x0C03, 0), "");
}

}  // namespace
