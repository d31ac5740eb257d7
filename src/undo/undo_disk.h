// tessaly-undo's way to the disk: the same ASPI requests as tessaly's, so it
// reaches image disks, SCSI generic devices and a Windows ASPI layer alike.
#pragma once

#include <cstdint>
#include <string>

#include "undo/journal_format.h"

struct UndoDisk {
  std::uint8_t host_adapter = 0;
  std::uint8_t target_id = 0;
};

// Scans every target of every adapter (INQUIRY, READ CAPACITY) for the one
// disk with the journal's model text and capacity. Empty when exactly one
// answers, else why the restore cannot go on.
std::string find_journal_disk(const Journal& journal, UndoDisk& disk);

bool read_undo_sector(const UndoDisk& disk, std::uint32_t sector, std::uint8_t* buffer);
bool write_undo_sector(const UndoDisk& disk, std::uint32_t sector, const std::uint8_t* buffer);
