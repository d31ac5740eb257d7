// Fixtures shared by the tests of the run: stdout capture, the boxes of the
// run as the user sees them, and the sample disk figures worked out by hand.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/win32_api.h"
#include "support/memory_disk.h"

// A 200,000-sector player disk: volume at 63, 199,937 sectors, 8-sector
// clusters. The smallest FAT with an entry for every cluster is 195 sectors
// (24,939 clusters + 2 entries <= 195 x 128), so FAT2 starts at 95 + 195 = 290.
constexpr std::uint32_t SMALL_DISK = 200000;
constexpr std::uint32_t SMALL_DISK_FAT2 = 290;

constexpr const char* FAILED_REQUEST = "status=$4 : SRB completed with error\n";

inline std::string stars(int count) { return std::string(static_cast<std::size_t>(count), '*'); }

// The FAT step on the small disk when both FATs are sound: the search stops
// at 290 after (290 - 1) / 251 = 1 star; the sum of 195 sectors prints
// 194 / (195 / 60) = 64 stars.
inline std::string small_disk_fat_lines() {
  return "\n Shearching FAT...\n" + stars(1) +
         "\n"
         "Fat found on sector 290 at Address 0x24400 \n"
         "Fat size : 195 SECTORS = 0x18600 BYTES \n"
         "\n Checking FAT ...\n" +
         stars(64) + "\n";
}

inline std::string small_disk_repair_lines() { return "\n Repairing FAT...\n" + stars(64); }

// The sectors the run wrote, in order, each required to hold now something
// else than in `before`: a repair writes nothing that is already there.
inline std::vector<std::uint32_t> changing_writes(const MemoryDisk& disk,
                                                  const std::map<std::uint32_t, DiskSector>& before) {
  std::vector<std::uint32_t> written;
  for (const Transfer& t : disk.transfers) {
    if (!t.write) continue;
    written.push_back(t.sector);
    const auto old = before.find(t.sector);
    EXPECT_NE(old == before.end() ? DiskSector{} : old->second, disk.get(t.sector))
        << "sector " << t.sector << " was written with what it held";
  }
  return written;
}

constexpr unsigned CONFIRMATION = 0x31;

inline void expect_box(const ShownBox& box, const char* caption, const char* text_start, unsigned style) {
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text.rfind(text_start, 0), 0u) << box.text;
  EXPECT_EQ(box.style, style);
}

constexpr const char* D1_CAPTION = "  ERROR: Hard Drive file structure is damaged ! ";
constexpr const char* D2_CAPTION = "  About to repair the Pellora Hard Disk !  ";
constexpr const char* R1_CAPTION = "  ERROR: Hard Disk is removable ! ";
