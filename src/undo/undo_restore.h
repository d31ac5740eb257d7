// What a restore does with each sector of a journal, decided by the disk's
// content now: a sector still as the repair left it goes back to its old
// content, one already as before stays, anything else is a conflict.
#pragma once

#include <vector>

#include "undo/journal_format.h"
#include "undo/undo_disk.h"

enum class SectorAction {
  leave,        // already holds its old content
  restore,      // holds what the repair wrote: the old content goes back
  conflict,     // holds something else, or cannot be read
  not_saved,    // could not be read before the repair: never restored
};

struct SectorPlan {
  const JournalEntry* entry = nullptr;
  SectorAction action = SectorAction::leave;
  bool readable = false;
  SectorBytes current{};
};

struct RestoreCounts {
  int leave = 0;
  int restore = 0;
  int conflict = 0;
  int not_saved = 0;
};

std::vector<SectorPlan> plan_restore(const Journal& journal, const UndoDisk& disk);
RestoreCounts count_actions(const std::vector<SectorPlan>& plan);

// Turns every conflict into a restore (--force).
void force_conflicts(std::vector<SectorPlan>& plan);

// The journal of the restore itself: the sectors it will write, with their
// content now, so that tessaly-undo can undo the restore too.
Journal journal_of_restore(const Journal& journal, const std::vector<SectorPlan>& plan, const char* version);

// Writes the old content of every sector to restore, reads it back and
// compares. Returns the sectors that failed (write, read back or compare).
std::vector<std::uint32_t> restore_sectors(const std::vector<SectorPlan>& plan, const UndoDisk& disk);
