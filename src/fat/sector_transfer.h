// Single-sector transfers with the selected drive, and the console lines that
// report the sectors that failed. Every FAT operation moves one 512-byte
// sector per request and tells success only by SS_COMP.
#pragma once

#include <cstdint>

// What the transfers with the selected drive have met so far in the run.
// The drive is gone once a request to it completes with SS_NO_DEVICE or
// SS_INVALID_HA: it was found and answered before, so the player was
// unplugged, switched off or reset out of the bus, and every later request
// to it fails as well. Whatever ASPI layer serves the run, a disk that went
// away reaches this point as one of those two statuses.
struct DiskTransfers {
  std::int64_t sectors_written = 0;  // writes completed with SS_COMP
  bool drive_gone = false;
};

extern DiskTransfers disk_transfers;

// Reads / writes one sector of the selected drive; true when the request
// completed with SS_COMP.
bool read_disk_sector(std::int64_t sector, std::uint8_t* buffer);
bool write_disk_sector(std::int64_t sector, const std::uint8_t* buffer);

// A read that prints no status line when it fails: for reads of the
// program's own (the undo journal, a comparison before a write) that the
// report does not show.
bool read_disk_sector_quietly(std::int64_t sector, std::uint8_t* buffer);

constexpr const char* READ_FAILURE_HEADER = "ERROR: reading sectors...\n";
constexpr const char* WRITE_FAILURE_HEADER = "ERROR: writing sectors...\n";

// Counts one more failed sector of a kind: the first failure of that kind in
// an operation prints its header, every failure its number as " $%2x".
void note_failed_sector(int& failures, const char* header, std::int64_t sector);

// A quiet read of `count` neighbouring sectors (at most 128) in one request.
bool read_disk_sectors_quietly(std::int64_t first, std::uint16_t count, std::uint8_t* buffer);
