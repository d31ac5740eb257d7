// Small fixtures shared by the FAT tests: sector patterns and stdout capture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/memory_disk.h"

// F8 FF FF 0F: the media entry that opens every FAT (signed byte sum 5).
inline void put_fat_signature(MemoryDisk& disk, std::uint32_t n) {
  DiskSector& s = disk.at(n);
  s[0] = 0xF8;
  s[1] = 0xFF;
  s[2] = 0xFF;
  s[3] = 0x0F;
}

inline void fill_range(MemoryDisk& disk, std::uint32_t first, std::uint32_t last, std::uint8_t value) {
  for (std::uint32_t n = first; n <= last; ++n) fill_sector(disk, n, value);
}

inline std::string stars(int count) { return std::string(static_cast<std::size_t>(count), '*'); }

inline int count_stars(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '*';
  return n;
}

constexpr const char* FAILED_REQUEST_LINE = "status=$4 : SRB completed with error\n";

inline void start_capture() { testing::internal::CaptureStdout(); }
inline std::string captured() { return testing::internal::GetCapturedStdout(); }
