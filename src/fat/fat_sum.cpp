#include "fat/fat_sum.h"

#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fat/progress_stars.h"
#include "fat/sector_prints.h"
#include "fat/sector_transfer.h"
#include "scsi/completion_state.h"
#include "fat/fat_search.h"

namespace {

constexpr int SIGNED_BYTE_BIAS = 128;

#if defined(__SSE2__)
__m128i flipped_sums(const std::uint8_t* bytes, __m128i top_bits) {
  const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  return _mm_sad_epu8(_mm_xor_si128(loaded, top_bits), _mm_setzero_si128());
}

// Sixteen bytes at a time: the sum of absolute differences against zero
// adds eight bytes into each 64-bit half in one instruction; four blocks a
// turn.
std::uint32_t sum_of_flipped_bytes(const std::uint8_t* sector) {
  const __m128i top_bits = _mm_set1_epi8(static_cast<char>(0x80));
  __m128i halves = _mm_setzero_si128();
  for (int at = 0; at < SECTOR_SIZE; at += 64) {
    const __m128i first = _mm_add_epi64(flipped_sums(sector + at, top_bits), flipped_sums(sector + at + 16, top_bits));
    const __m128i second =
        _mm_add_epi64(flipped_sums(sector + at + 32, top_bits), flipped_sums(sector + at + 48, top_bits));
    halves = _mm_add_epi64(halves, _mm_add_epi64(first, second));
  }
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(halves) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(halves, halves)));
}
#else
// Eight bytes at a time: the even and the odd bytes of each 64-bit word add
// into four 16-bit lanes, which take at most 2 x 255 per word and so 32,640
// for the 64 words of a sector. The byte order of the words does not matter
// to a sum.
std::uint32_t sum_of_flipped_bytes(const std::uint8_t* sector) {
  constexpr std::uint64_t TOP_BITS = 0x8080808080808080ULL;
  constexpr std::uint64_t LOW_BYTES = 0x00FF00FF00FF00FFULL;
  std::uint64_t lanes = 0;
  for (int at = 0; at < SECTOR_SIZE; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, sector + at, sizeof word);
    word ^= TOP_BITS;
    lanes += (word & LOW_BYTES) + ((word >> 8) & LOW_BYTES);
  }
  return static_cast<std::uint32_t>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) +
                                    (lanes >> 48));
}
#endif

}  // namespace

// A byte b taken as signed is (b ^ 0x80) - 128, so the signed sum of a
// sector is the unsigned sum of its bytes with the top bit flipped, less
// 128 x 512: a sum that whole words at a time can make.
std::int32_t sector_signed_sum(const std::uint8_t* sector) {
  return static_cast<std::int32_t>(sum_of_flipped_bytes(sector)) - SIGNED_BYTE_BIAS * SECTOR_SIZE;
}

// The FAT sum adds each byte as a signed value (0x80-0xFF count negative) into
// a 16-bit accumulator that wraps; it differs on purpose from the unsigned
// checksum of the boot area copies. Wrapping once per sector gives what
// wrapping after every byte gives.
void add_to_fat_sum(std::uint16_t& accumulator, const std::uint8_t* sector) {
  accumulator = static_cast<std::uint16_t>(accumulator + sector_signed_sum(sector));
}

std::int32_t fat_sum_value(std::uint16_t accumulator) {
  return static_cast<std::int16_t>(accumulator);
}

// The second FAT is summed over the length of the first. Progress counts from
// the start of the range. The first unreadable sector ends the sum: the line
// with its number is left open for the run's next message.
std::optional<std::int32_t> sum_fat_sectors(std::int32_t first_sector, std::int32_t sector_count) {
  StarProgress stars = start_star_progress(sector_count);
  std::vector<std::uint8_t> window(SECTOR_WINDOW_SLOTS * SECTOR_SIZE);
  std::uint16_t accumulator = 0;
  const std::int64_t end = static_cast<std::int64_t>(first_sector) + sector_count;
  restart_prints(last_sum_prints, first_sector);
  for (std::int64_t k = first_sector; k < end; ++k) {
    std::uint8_t* slot = window.data() + (k % SECTOR_WINDOW_SLOTS) * SECTOR_SIZE;
    if (!read_disk_sector(k, slot)) {
      int failures = 0;
      note_failed_sector(failures, READ_FAILURE_HEADER, k);
      return std::nullopt;
    }
    add_to_fat_sum(accumulator, slot);
    note_print(last_sum_prints, k, slot);
    advance_star_progress(stars, k - first_sector);
  }
  std::putchar('\n');
  return fat_sum_value(accumulator);
}
