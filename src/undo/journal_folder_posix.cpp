#include <cstdlib>

#include "undo/durable_file.h"
#include "undo/journal_folder.h"

namespace {

const char* set_variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::string default_journal_folder() {
  if (const char* state = set_variable("XDG_STATE_HOME")) return path_in(state, "tessaly");
  if (const char* home = set_variable("HOME")) return path_in(path_in(path_in(home, ".local"), "state"), "tessaly");
  return {};
}

std::string unnamed_journal_folder_reason() { return "neither TESSALY_UNDO_DIR nor HOME is set"; }
