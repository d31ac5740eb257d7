// Layouts of other kinds that the start of a disk may hold: what the player
// cannot use, and what a repair of its boot area therefore replaces with
// the player's own layout. Only told, never judged: the boot area checks
// decide what is repaired.
#pragma once

#include <cstdint>
#include <string>

// Disk sector 1 of a disk with a GUID partition table holds its header,
// which begins with "EFI PART"; sector 0 then holds a protective MBR.
bool guid_partition_header(const std::uint8_t* sector);

// Whether `sector` is the boot sector of a volume: signed, and either naming
// itself exFAT or NTFS or holding the parameters of a FAT volume. A sector
// of a FAT32 FAT never is: its last entry would need reserved bits set to
// end in 0x55 0xAA.
bool volume_boot_sector(const std::uint8_t* sector);

// The kind of volume whose boot sector is `boot`, when it is one the player
// cannot use: "FAT12 volume", "FAT16 volume", "exFAT volume", "NTFS volume",
// or a FAT32 volume the player's boot checks refuse, said with why ("FAT32
// volume with 1 sector per cluster"). Empty for anything else: a FAT32 volume those checks take,
// an MBR, an empty or unsigned sector.
std::string foreign_volume_kind(const std::uint8_t* boot);
