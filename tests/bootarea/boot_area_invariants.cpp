#include "boot_area_invariants.h"

#include <cstdio>
#include <cstring>

#include "bootarea/boot_pair.h"
#include "bootarea/templates.h"

namespace invariants {

namespace {

constexpr BootAreaStatus OUTCOMES[] = {0x0003, 0x0103, 0x0203, 0x0303, 0x0403, 0x0503,
                                       0x0001, 0x0101, 0x0803, 0x0C03, 0x1003};

void allow(std::bitset<BOOT_AREA_SECTORS>& set, std::int64_t n) {
  if (n >= 0 && n < BOOT_AREA_SECTORS) {
    set.set(static_cast<std::size_t>(n));
  }
}

void allow_mbr_copies(std::bitset<BOOT_AREA_SECTORS>& set) {
  for (int k = 1; k <= 7; ++k) {
    allow(set, k);
  }
}

std::string hex(BootAreaStatus status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", status);
  return text;
}

bool signed_sector(const std::uint8_t* sector) {
  return sector[510] == 0x55 && sector[511] == 0xAA;
}

bool templates_at_63(const BootAreaImage& image) {
  return std::memcmp(image.sector(63), BOOT_SECTOR_TEMPLATE, 512) == 0 &&
         std::memcmp(image.sector(64), FSINFO_TEMPLATE, 512) == 0;
}

// The fresh MBR: type 0x0B from 63, the rest of the disk, signed.
bool fresh_mbr_at_0(const BootAreaImage& image, std::uint32_t capacity) {
  const std::uint8_t* s = image.sector(0);
  std::uint32_t count = capacity > 63 ? capacity - 63 : 0;
  std::uint8_t entry[16] = {0x00, 0x01, 0x01, 0x00, 0x0B, 0xFE, 0xFF, 0xFF, 63, 0, 0, 0,
                            static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
                            static_cast<std::uint8_t>(count >> 16),
                            static_cast<std::uint8_t>(count >> 24)};
  for (int k = 0; k < 446; ++k) {
    if (s[k] != 0) return false;
  }
  for (int k = 462; k < 510; ++k) {
    if (s[k] != 0) return false;
  }
  return std::memcmp(s + 446, entry, 16) == 0 && signed_sector(s);
}

// What the outcome says was written, checked by content.
std::string check_contents(const BootAreaImage& after, BootAreaStatus status,
                           std::int32_t v, std::uint32_t capacity) {
  bool rebuilt = (status & (MBR_REBUILT | VOLUME_CONVERTED)) != 0;
  if (rebuilt && !fresh_mbr_at_0(after, capacity)) return "sector 0 is not the fresh MBR";
  if ((status & MBR_RESTORED) && !signed_sector(after.sector(0))) return "restored MBR unsigned";
  bool templated = (status & (BPB_REPLACED | VOLUME_CONVERTED)) != 0;
  if (templated && !templates_at_63(after)) return "templates not at 63, 64";
  if ((status & BPB_RESTORED) && (v < 0 || v > 93)) return "restored pair outside the image";
  if (status & BPB_RESTORED) {
    if (!signed_sector(after.sector(v)) || !signed_sector(after.sector(v + 1)))
      return "restored pair unsigned";
  }
  return "";
}

}  // namespace

bool is_outcome(BootAreaStatus status) {
  for (BootAreaStatus outcome : OUTCOMES) {
    if (status == outcome) return true;
  }
  return false;
}

std::bitset<BOOT_AREA_SECTORS> allowed_changes(BootAreaStatus status, std::int32_t v) {
  std::bitset<BOOT_AREA_SECTORS> set;
  if (status == (MBR_PRESENT | BPB_PRESENT | MBR_REBUILT)) {
    allow(set, 0);
    return set;
  }
  if (status & (MBR_REBUILT | VOLUME_CONVERTED)) {
    allow(set, 0);
    allow_mbr_copies(set);
    allow(set, 63);
    allow(set, 64);
    if (status & VOLUME_CONVERTED) {
      for (int n : {66, 67, 72, 73}) allow(set, n);
    }
    return set;
  }
  if (status & MBR_RESTORED) {
    allow(set, 0);
  } else {
    allow_mbr_copies(set);
  }
  std::int64_t start = v;
  if (status & BPB_RESTORED) {
    allow(set, start);
    allow(set, start + 1);
  } else if (status & BPB_REPLACED) {
    allow(set, 63);
    allow(set, 64);
  } else if (status & BPB_PRESENT) {
    for (int offset : {3, 4, 9, 10}) allow(set, start + offset);
  }
  return set;
}

std::string check_assessment(const BootAreaImage& before, const BootAreaImage& after,
                             BootAreaStatus status, std::uint32_t capacity) {
  if (!is_outcome(status)) return "status " + hex(status) + " is no outcome";
  std::int32_t v = volume_geometry.volume_start;
  bool at_63 = (status & (MBR_REBUILT | VOLUME_CONVERTED | BPB_REPLACED)) != 0;
  if (at_63 && v != 63) return "status " + hex(status) + " with volume start " + std::to_string(v);
  std::bitset<BOOT_AREA_SECTORS> allowed = allowed_changes(status, v);
  for (int n = 0; n < BOOT_AREA_SECTORS; ++n) {
    if (!allowed.test(n) && std::memcmp(before.sector(n), after.sector(n), 512) != 0) {
      return "status " + hex(status) + " changed sector " + std::to_string(n) +
             " (volume start " + std::to_string(v) + ")";
    }
  }
  std::string content = check_contents(after, status, v, capacity);
  return content.empty() ? "" : "status " + hex(status) + ": " + content;
}

std::string assess_and_check(BootAreaImage& image, std::uint32_t capacity) {
  BootAreaImage before = image;
  BootAreaStatus status = assess_boot_area(image, capacity);
  std::string fault = check_assessment(before, image, status, capacity);
  if (!fault.empty() || status != 0x0803) return fault;
  // Reassessing: the fresh MBR is accepted, and the pair found at 63 either
  // is the primary or restores it.
  volume_geometry.volume_start = 63;
  bool primary_good = boot_check_pair(image, 0) == PAIR_VALID;
  BootAreaImage second = image;
  BootAreaStatus again = assess_boot_area(image, capacity);
  fault = check_assessment(second, image, again, capacity);
  if (!fault.empty()) return "second assessment: " + fault;
  if (again != (primary_good ? 0x0003 : 0x0203)) return "second assessment gave " + hex(again);
  if (again == 0x0003) return "";
  BootAreaImage third = image;
  BootAreaStatus last = assess_boot_area(image, capacity);
  fault = check_assessment(third, image, last, capacity);
  if (!fault.empty()) return "third assessment: " + fault;
  return last == 0x0003 ? "" : "third assessment gave " + hex(last);
}

}  // namespace invariants
