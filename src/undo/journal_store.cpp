#include "undo/journal_store.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "undo/durable_file.h"

namespace fs = std::filesystem;

namespace {

const char* set_variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

fs::path default_folder() {
#ifdef _WIN32
  if (const char* local = set_variable("LOCALAPPDATA")) return fs::path(local) / "tessaly";
#else
  if (const char* state = set_variable("XDG_STATE_HOME")) return fs::path(state) / "tessaly";
  if (const char* home = set_variable("HOME")) return fs::path(home) / ".local" / "state" / "tessaly";
#endif
  return {};
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

// A name that no journal of the folder carries yet.
fs::path fresh_name(const fs::path& folder, const std::string& base) {
  std::error_code error;
  fs::path name = folder / (base + ".undo");
  for (int n = 2; fs::exists(name, error) || fs::exists(name.string() + ".tmp", error); ++n) {
    name = folder / (base + "-" + std::to_string(n) + ".undo");
  }
  return name;
}

std::string verify_copy(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
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
  place.folder = chosen != nullptr ? fs::path(chosen) : default_folder();
  return place;
}

std::string keep_journal(const JournalPlace& place, const Journal& journal, const char* stem, fs::path& written) {
  if (place.folder.empty()) return "no folder for it is known (neither TESSALY_UNDO_DIR nor HOME is set)";
  std::error_code error;
  fs::create_directories(place.folder, error);
  if (error) return "cannot make the folder: " + error.message();
  const std::vector<std::uint8_t> bytes = encode_journal(journal);
  const fs::path final_name = fresh_name(place.folder, std::string(stem) + "-" + time_text(journal.time));
  const fs::path temporary = final_name.string() + ".tmp";
  std::string problem = write_file_durably(temporary, bytes);
  if (problem.empty()) problem = rename_durably(temporary, final_name);
  if (problem.empty()) problem = verify_copy(final_name, bytes);
  if (!problem.empty()) {
    fs::remove(temporary, error);
    fs::remove(final_name, error);
    return problem;
  }
  written = final_name;
  return {};
}
