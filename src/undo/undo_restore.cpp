#include "undo/undo_restore.h"

#include <algorithm>

#include "platform/disk_session.h"

namespace {

bool same_content(const SectorBytes& sector, const std::vector<std::uint8_t>& content) {
  return content.size() == sector.size() && std::equal(sector.begin(), sector.end(), content.begin());
}

SectorAction judge_sector(const JournalEntry& entry, SectorPlan& sector) {
  if (!entry.old_known) return SectorAction::not_saved;
  if (!sector.readable) return SectorAction::conflict;
  if (same_content(sector.current, entry.old_content)) return SectorAction::leave;
  if (entry.new_known && sector_crc(sector.current.data()) == entry.new_crc) return SectorAction::restore;
  return SectorAction::conflict;
}

}  // namespace

std::vector<SectorPlan> plan_restore(const Journal& journal, const UndoDisk& disk) {
  std::vector<SectorPlan> plan(journal.entries.size());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const JournalEntry& entry = journal.entries[i];
    SectorPlan& sector = plan[i];
    sector.entry = &entry;
    if (entry.old_known) sector.readable = read_undo_sector(disk, entry.sector, sector.current.data());
    sector.action = judge_sector(entry, sector);
  }
  return plan;
}

RestoreCounts count_actions(const std::vector<SectorPlan>& plan) {
  RestoreCounts counts;
  for (const SectorPlan& sector : plan) {
    switch (sector.action) {
      case SectorAction::leave: ++counts.leave; break;
      case SectorAction::restore: ++counts.restore; break;
      case SectorAction::conflict: ++counts.conflict; break;
      case SectorAction::not_saved: ++counts.not_saved; break;
    }
  }
  return counts;
}

void force_conflicts(std::vector<SectorPlan>& plan) {
  for (SectorPlan& sector : plan) {
    if (sector.action == SectorAction::conflict) sector.action = SectorAction::restore;
  }
}

Journal journal_of_restore(const Journal& journal, const std::vector<SectorPlan>& plan, const char* version) {
  Journal own;
  describe_journal(own, journal_model_text(journal).c_str(), journal.capacity, JOURNAL_OF_RESTORE, version);
  own.model = journal.model;
  for (const SectorPlan& sector : plan) {
    if (sector.action != SectorAction::restore) continue;
    add_journal_entry(own, sector.entry->sector, sector.readable ? sector.current.data() : nullptr,
                      sector.entry->old_content.data());
  }
  return own;
}

std::vector<std::uint32_t> restore_sectors(const std::vector<SectorPlan>& plan, const UndoDisk& disk) {
  std::vector<std::uint32_t> failed;
  SectorBytes back{};
  platform::begin_disk_writes();
  for (const SectorPlan& sector : plan) {
    if (sector.action != SectorAction::restore) continue;
    const JournalEntry& entry = *sector.entry;
    const bool sound = write_undo_sector(disk, entry.sector, entry.old_content.data()) &&
                       read_undo_sector(disk, entry.sector, back.data()) && same_content(back, entry.old_content);
    if (!sound) failed.push_back(entry.sector);
  }
  platform::end_disk_writes();
  return failed;
}
