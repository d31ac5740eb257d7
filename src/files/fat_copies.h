// The two FATs as the judgement of their differences reads them: the first
// whole, the second only where it differs from the first. A view picks, for
// every FAT sector, which copy its entries come from: the first FAT, the
// second, or a choice per sector (the FAT a repair would leave behind).
#pragma once

#include <cstdint>
#include <vector>

#include "files/file_volume.h"

enum FatSide : std::uint8_t { FAT_FIRST = 0, FAT_SECOND = 1 };

// What an entry reads as when its FAT sector could not be read: no FAT32
// value has any of the top four bits set once masked.
constexpr std::uint32_t ENTRY_UNREADABLE = 0xF0000000u;

// 0x0FFFFFF8 to 0x0FFFFFFF end a chain.
constexpr bool ends_chain(std::uint32_t entry) { return entry >= 0x0FFFFFF8u && entry != ENTRY_UNREADABLE; }

struct FatCopies {
  FileVolume volume;
  std::vector<std::uint8_t> first;       // every sector of the first FAT
  std::vector<bool> first_unreadable;    // per sector
  std::vector<std::int32_t> second_at;   // per sector: its place in `second`, -1 where equal to the first
  std::vector<std::uint8_t> second;      // the second FAT's sectors that differ
  std::vector<std::int32_t> differing;   // the sectors (from 0) where the copies differ, increasing
  std::int64_t sectors_read = 0;
};

// Reads the FATs of `volume` with quiet single-sector reads. The second
// FAT is read only where the check did not see it equal to the first (and
// where the first cannot be read now). A sector both copies fail to give
// is unreadable in either view and differs in none.
void read_fat_copies(const FileVolume& volume, FatCopies& copies);

struct FatView {
  const FatCopies* copies = nullptr;
  FatSide whole = FAT_FIRST;
  const std::vector<FatSide>* chosen = nullptr;  // per sector; overrides `whole`

  FatSide side_of(std::uint32_t sector) const { return chosen ? (*chosen)[sector] : whole; }
};

FatView whole_fat(const FatCopies& copies, FatSide side);
FatView chosen_fat(const FatCopies& copies, const std::vector<FatSide>& chosen);

// The entry of `cluster` (28 bits), or ENTRY_UNREADABLE. The cluster must
// lie within the FAT.
std::uint32_t fat_entry(const FatView& view, std::uint32_t cluster);

// The FAT sector (from 0) that holds the entry of `cluster`.
constexpr std::uint32_t fat_sector_of(std::uint32_t cluster) { return cluster / FAT_ENTRIES_PER_SECTOR; }
