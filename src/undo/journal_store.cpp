#include "undo/journal_store.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "undo/durable_file.h"
#include "undo/journal_folder.h"

namespace {

const char* set_variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string time_text(std::int64_t seconds) {
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &when);
#else
  gmtime_r(&when, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
  return text;
}

std::string verify_copy(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> copy;
  if (!read_whole_file(path, copy)) return "cannot read it back";
  Journal again;
  if (copy != bytes || !decode_journal(copy, again).empty()) return "it reads back different from what was written";
  return {};
}

}  // namespace

JournalPlace journal_place() {
  JournalPlace place;
  const char* undo = std::getenv("TESSALY_UNDO");
  place.off = undo != nullptr && std::string(undo) == "off";
  const char* chosen = set_variable("TESSALY_UNDO_DIR");
  place.folder = chosen != nullptr ? std::string(chosen) : default_journal_folder();
  return place;
}

// Names are tried in order, STEM-TIME.undo, then STEM-TIME-2.undo and on;
// each is taken by creating its file, so runs in the same second, in one
// folder, each get a journal of their own.
constexpr int NAMES_TRIED = 1000;

std::string keep_journal(const JournalPlace& place, const Journal& journal, const char* stem, std::string& written) {
  if (place.folder.empty()) return "no folder for it is known (" + unnamed_journal_folder_reason() + ")";
  const std::string made = make_folders(place.folder);
  if (!made.empty()) return made;
  const std::vector<std::uint8_t> bytes = encode_journal(journal);
  const std::string base = path_in(place.folder, std::string(stem) + "-" + time_text(journal.time));
  for (int n = 1; n <= NAMES_TRIED; ++n) {
    const std::string name = n == 1 ? base + ".undo" : base + "-" + std::to_string(n) + ".undo";
    std::string problem;
    const CreateOutcome outcome = create_file_durably(name, bytes, problem);
    if (outcome == CreateOutcome::name_taken) continue;
    if (outcome == CreateOutcome::created) problem = verify_copy(name, bytes);
    if (!problem.empty()) {
      remove_file(name);
      return problem;
    }
    written = name;
    return {};
  }
  return "every name from " + base + ".undo to -" + std::to_string(NAMES_TRIED) + ".undo is taken";
}
