// An in-memory player disk behind the ASPI seam, for the unit tests of the
// FAT operations and of the run: sectors are held sparsely (absent = zero),
// chosen sectors fail to read or write, and every transfer is counted and
// logged. Requests complete inside SendASPI32Command. Also a scripted
// MessageBoxA that records every box and answers from a list.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/aspi_backend.h"
#include "sample_disk.h"

using DiskSector = std::array<std::uint8_t, 512>;

struct Transfer {
  bool write = false;
  std::uint32_t sector = 0;
};

struct MemoryDisk {
  std::uint32_t capacity = 0;
  bool fail_capacity = false;  // READ CAPACITY completes with SS_ERR
  std::map<std::uint32_t, DiskSector> sectors;
  std::set<std::uint32_t> bad_reads;
  std::set<std::uint32_t> bad_writes;
  std::vector<Transfer> transfers;  // every READ(10)/WRITE(10), in order
  int reads = 0;
  int writes = 0;
  // What the run told the layer: claims of the disk and flushes, each with
  // the number of transfers before it.
  int claims = 0;
  std::size_t transfers_at_claim = 0;
  int flushes = 0;
  std::size_t transfers_at_flush = 0;

  DiskSector& at(std::uint32_t n) { return sectors[n]; }
  DiskSector get(std::uint32_t n) const;  // zero when never written
  int writes_between(std::uint32_t first, std::uint32_t last) const;
};

// Installs a backend serving `disk` as adapter 0 target 0, with the model of
// the player's disk, and points the process-wide target_drive at it. The
// returned disk lives until the next installation.
MemoryDisk& install_memory_disk(std::uint32_t capacity);

// A backend serving a sound sample disk of `capacity` sectors as adapter 0
// target 0, not installed; `disk` is pointed at its record.
std::unique_ptr<platform::AspiBackend> sample_disk_backend(std::uint32_t capacity, MemoryDisk*& disk);

// Copies the sectors of a sample disk built by the disk maker.
void load_sample_disk(MemoryDisk& disk, const mkdisk::SampleDisk& sample);

// A sample disk of the given capacity with the given damages, loaded.
MemoryDisk& install_sample_disk(std::uint32_t capacity, const std::vector<std::string>& damages = {},
                                bool removable = false);

// Fills sector n with `value` in every byte.
void fill_sector(MemoryDisk& disk, std::uint32_t n, std::uint8_t value);

struct ShownBox {
  std::string text;
  std::string caption;
  unsigned style = 0;
};

struct ScriptedBoxes {
  std::deque<int> answers;  // for OK/Cancel boxes; IDCANCEL once used up
  std::vector<ShownBox> shown;
};

// Routes MessageBoxA to a script for the current test; returns the record.
ScriptedBoxes& script_message_boxes(std::vector<int> answers);
void stop_scripting_message_boxes();
