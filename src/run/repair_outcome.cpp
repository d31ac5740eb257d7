#include "run/repair_outcome.h"

#include <algorithm>
#include <cstdio>

#include "fat/sector_transfer.h"
#include "run/tell_user.h"

RepairPlan repair_plan;

namespace {

std::string sectors(std::int64_t count) { return std::to_string(count) + (count == 1 ? " sector" : " sectors"); }

std::string undo_command() { return "tessaly-undo \"" + repair_plan.journal + "\""; }

// Sectors written before the drive went away make the disk neither what it
// was nor repaired; the journal leads back, another run forward. A write
// that failed as the drive went away is not counted: it did not complete.
std::string gone_line(std::int64_t written) {
  if (written == 0) {
    return "the disk went away before the repair wrote any of its " + sectors(repair_plan.sectors) +
           "; attach the player again and run tessaly again to repair it";
  }
  std::string line = "the disk went away: the repair stopped after " + std::to_string(written) + " of its " +
                     sectors(repair_plan.sectors) +
                     ", and the disk is neither as it was nor repaired; attach the player again and run ";
  if (!repair_plan.journal.empty()) line += undo_command() + " to put it back as it was, or run ";
  return line + "tessaly again to finish the repair";
}

// The drive stayed but refused some writes (or a source could not be read,
// so its copy could not be written).
std::string unwritten_line(std::int64_t written) {
  const std::int64_t unwritten = std::max<std::int64_t>(repair_plan.sectors - written, 0);
  const std::string planned = sectors(repair_plan.sectors) + " this repair set out to write";
  if (written == 0) return "none of the " + planned + " could be written";
  std::string line = std::to_string(unwritten) + " of the " + planned + " could not be written";
  if (repair_plan.journal.empty()) return line;
  return line + "; " + undo_command() + " puts back the " + std::to_string(written) + " that were";
}

}  // namespace

void tell_unfinished_repair(bool failed) {
  const std::int64_t written = disk_transfers.sectors_written;
  if (disk_transfers.drive_gone) return tell_user(gone_line(written));
  if (failed && written < repair_plan.sectors) tell_user(unwritten_line(written));
}
