// tessaly-undo JOURNAL: puts back the sectors a repair overwrote, from the
// journal tessaly saved before its first write.
//
// Exit status: 0 when the disk is as before the repair (restored now, or
// already), or after a dry run; 1 when the restore was refused or failed;
// 2 for a wrong command line.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "undo/durable_file.h"
#include "undo/journal_store.h"
#include "undo/undo_restore.h"

namespace {

constexpr const char* VERSION = "1.07";
constexpr int EXIT_DONE = 0;
constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int CONFLICTS_LISTED = 10;

constexpr const char* HELP_TEXT =
    "usage: tessaly-undo [-n] [--force] JOURNAL\n"
    "Puts back the sectors a tessaly repair overwrote, from the journal it saved\n"
    "before writing (its name is on tessaly's standard error).\n"
    "  -n, --dry-run  say what would be done, write nothing\n"
    "  --force        put back also the sectors that changed since the repair\n"
    "  --help         show this text\n"
    "The disk is found by the journal's model text and capacity. A sector still\n"
    "as the repair left it is put back, one already as before is left; any other\n"
    "content is a conflict, which refuses the whole restore unless --force.\n"
    "Before writing, asks for a line \"yes\" on standard input and saves a journal\n"
    "of its own, so that the restore can be undone the same way.\n";

struct Options {
  bool dry_run = false;
  bool force = false;
  bool help = false;
  const char* journal = nullptr;
};

bool parse_options(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-n" || arg == "--dry-run") {
      options.dry_run = true;
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "tessaly-undo: unknown option %s\n", argv[i]);
      return false;
    } else if (options.journal != nullptr) {
      std::fprintf(stderr, "tessaly-undo: one journal at a time\n");
      return false;
    } else {
      options.journal = argv[i];
    }
  }
  return options.help || options.journal != nullptr;
}

int refuse(const std::string& why) {
  std::fflush(stdout);
  std::fprintf(stderr, "tessaly-undo: %s; nothing was written\n", why.c_str());
  return EXIT_REFUSED;
}

std::string when(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &t);
#else
  gmtime_r(&t, &parts);
#endif
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

void describe(const char* path, const Journal& journal) {
  const char* by = journal.kind == JOURNAL_OF_RESTORE ? "a restore by tessaly-undo" : "a repair by tessaly";
  std::printf("journal %s: %s %s, %s, %zu sectors\n", path, by, journal.version.data(), when(journal.time).c_str(),
              journal.entries.size());
}

void list_conflicts(const std::vector<SectorPlan>& plan) {
  int listed = 0;
  int more = 0;
  for (const SectorPlan& sector : plan) {
    if (sector.action != SectorAction::conflict) continue;
    if (listed == CONFLICTS_LISTED) {
      ++more;
      continue;
    }
    ++listed;
    std::printf("  conflict: sector %u %s\n", sector.entry->sector,
                sector.readable ? "changed since the repair" : "cannot be read");
  }
  if (more > 0) std::printf("  ... and %d more conflicts\n", more);
}

// A line "yes" on standard input; anything else, or its end, is no.
bool user_agrees(int count) {
  std::fflush(stdout);
  std::fprintf(stderr, "Put back %d sectors on this disk? Type yes to go on: ", count);
  std::fflush(stderr);
  char line[64];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
  std::string answer = line;
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
  return answer == "yes";
}

bool keep_own_journal(const Journal& journal, const std::vector<SectorPlan>& plan) {
  const JournalPlace place = journal_place();
  if (place.off) return true;
  std::string written;
  const std::string problem = keep_journal(place, journal_of_restore(journal, plan, VERSION), "restore", written);
  if (!problem.empty()) {
    refuse("no undo journal could be made in " + place.folder + " (" + problem +
           "); set TESSALY_UNDO_DIR to a writable folder, or TESSALY_UNDO=off to restore without one");
    return false;
  }
  std::fprintf(stderr, "tessaly-undo: the sectors this restore overwrites are saved in %s; to put them back: "
               "tessaly-undo \"%s\"\n", written.c_str(), written.c_str());
  return true;
}

int undo(const Options& options) {
  std::vector<std::uint8_t> bytes;
  if (!read_whole_file(options.journal, bytes)) return refuse(std::string("cannot read ") + options.journal);
  Journal journal;
  const std::string problem = decode_journal(bytes, journal);
  if (!problem.empty()) return refuse(std::string(options.journal) + " cannot be used: " + problem);
  describe(options.journal, journal);

  UndoDisk disk;
  const std::string not_found = find_journal_disk(journal, disk);
  if (!not_found.empty()) return refuse(not_found);
  std::printf("disk '%s' of %u sectors at host adapter %d target %d\n", journal_model_text(journal).c_str(),
              journal.capacity, disk.host_adapter, disk.target_id);

  std::vector<SectorPlan> plan = plan_restore(journal, disk);
  const RestoreCounts counts = count_actions(plan);
  std::printf("%d sectors to put back, %d already as before, %d changed since (conflicts), %d not saved "
              "(unreadable before the repair)\n", counts.restore, counts.leave, counts.conflict, counts.not_saved);
  list_conflicts(plan);
  if (counts.conflict > 0 && !options.force) {
    return refuse(std::to_string(counts.conflict) +
                  " sectors changed since the repair (--force puts them back all the same)");
  }
  if (options.force) force_conflicts(plan);
  const int to_write = counts.restore + (options.force ? counts.conflict : 0);
  if (options.dry_run) {
    std::printf("dry run: %d sectors would be put back; nothing was written\n", to_write);
    return EXIT_DONE;
  }
  if (to_write == 0) {
    std::printf("the disk is already as before; nothing was written\n");
    return EXIT_DONE;
  }
  if (!user_agrees(to_write)) return refuse("not confirmed");
  if (!keep_own_journal(journal, plan)) return EXIT_REFUSED;

  const std::vector<std::uint32_t> failed = restore_sectors(plan, disk);
  std::printf("%d sectors put back and read back equal\n", to_write - static_cast<int>(failed.size()));
  for (std::uint32_t sector : failed) std::printf("  failed: sector %u\n", sector);
  return failed.empty() ? EXIT_DONE : EXIT_REFUSED;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, options)) {
    std::fputs("usage: tessaly-undo [-n] [--force] JOURNAL (--help for more)\n", stderr);
    return EXIT_USAGE;
  }
  if (options.help) {
    std::fputs(HELP_TEXT, stdout);
    return EXIT_DONE;
  }
  return undo(options);
}
