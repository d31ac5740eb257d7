// What a repair set out to write, and the run's last word on standard error
// when it could not write it all: a disk left half repaired must never pass
// for a repaired one.
#pragma once

#include <cstdint>
#include <string>

// The repair under way: the sectors it sets out to write (those its undo
// journal lists, counted also when the journal is off) and the journal that
// holds their old content (empty without one).
struct RepairPlan {
  std::int64_t sectors = 0;
  std::string journal;
};

extern RepairPlan repair_plan;

// After the repair's last request and the flush behind it, so that it is the
// last line on standard error. When the drive went away: how far the repair
// got, that the disk is between its two states, and how to bring it to
// either. Otherwise, when the repair reported a failure (`failed`): how many
// of its sectors could not be written, and that the journal puts back those
// that were. Nothing after a repair that wrote all it set out to.
void tell_unfinished_repair(bool failed);
