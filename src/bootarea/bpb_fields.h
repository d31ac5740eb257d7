// Where the fields of a FAT boot sector lie: the BIOS parameter block shared
// by FAT12, FAT16 and FAT32, and the FAT32 extension behind it. exFAT and
// NTFS put their own names where FAT keeps its OEM name.
#pragma once

namespace bpb {

constexpr int OEM_NAME = 3;  // 8 bytes
constexpr int BYTES_PER_SECTOR = 11;
constexpr int SECTORS_PER_CLUSTER = 13;
constexpr int RESERVED_SECTORS = 14;
constexpr int NUMBER_OF_FATS = 16;
constexpr int ROOT_ENTRY_COUNT = 17;
constexpr int TOTAL_SECTORS_16 = 19;
constexpr int FAT_SIZE_16 = 22;
constexpr int TOTAL_SECTORS_32 = 32;
constexpr int FAT_SIZE_32 = 36;          // FAT32 only
constexpr int FILE_SYSTEM_TYPE_32 = 82;  // FAT32 only: "FAT32   "

}  // namespace bpb
