// Which copy of each differing FAT sector the repair keeps, judged by the
// files and folders whose chains run through it.
//
// The repair copies the second FAT's sector over the first's, as it always
// has, unless that breaks a chain that the first FAT keeps sound: then the
// first FAT's sector is kept and goes over the second's instead. A chain
// that crosses several differing sectors takes all of them from the copy
// that keeps it sound, and a file kept from the first FAT takes its
// folder's chain from there too when only that chain reaches its entry.
// Where keeping one file from the first FAT would break one that the second
// keeps (they need the same sector, or would share a cluster), the second
// FAT holds and the first is named broken. Either way the two FATs end
// equal.
#pragma once

#include <cstdint>
#include <vector>

#include "files/fat_copies.h"
#include "files/file_chains.h"
#include "files/file_tree.h"

enum FileFate : std::uint8_t {
  FATE_FROM_SECOND,  // its chain as the second FAT has it, sound
  FATE_FROM_FIRST,   // its chain as the first FAT has it, sound
  FATE_BROKEN,       // neither copy's chain survives the repair sound
};

// A file or folder whose chain differs between the FATs.
struct FileVerdict {
  std::int32_t node = 0;
  FileFate fate = FATE_FROM_SECOND;
  ChainFault first_fault = CHAIN_SOUND;   // under the whole first FAT
  ChainFault second_fault = CHAIN_SOUND;  // under the whole second FAT
  ChainFault left_fault = CHAIN_SOUND;    // as the repair leaves it
  std::int32_t kept_for = -1;  // broken although the first FAT keeps it: the node the second FAT keeps instead
};

struct FatJudgement {
  const char* not_judged = nullptr;  // why the files could not be judged: the second FAT is copied whole
  std::vector<FatSide> sides;        // per FAT sector: the copy that the repair keeps
  std::int32_t to_first = 0;         // differing sectors copied from the second FAT over the first
  std::int32_t to_second = 0;        // and from the first over the second
  std::vector<FileVerdict> verdicts;
  FileTree tree;
  std::int64_t fat_sectors_read = 0;
};

// Reads both FATs and the folder tree of the volume that the judged boot
// sector `boot_sector` (disk sector `boot_sector_number`) describes, with its
// FATs at `first_fat` and `first_fat` + `fat_size`, and judges each sector
// that differs between them.
void judge_fat_differences(const std::uint8_t* boot_sector, std::int64_t boot_sector_number,
                           std::int64_t first_fat, std::int64_t fat_size, std::uint32_t capacity,
                           FatJudgement& judgement);

// The same on FATs and a tree already read (for the judgement alone).
void choose_fat_sides(const FatCopies& copies, FatJudgement& judgement);
