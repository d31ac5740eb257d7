// Where undo journals are kept, and how one is stored before the first write
// to a disk: created new under its final name, flushed with its folder, then
// read back and checked.
#pragma once

#include <string>

#include "undo/journal_format.h"

struct JournalPlace {
  bool off = false;               // TESSALY_UNDO=off: no journal at all
  std::string folder;   // empty when none could be named
};

// TESSALY_UNDO_DIR when set; otherwise the system's own place
// (journal_folder.h).
JournalPlace journal_place();

// Stores the journal in the place's folder (made when missing) as
// STEM-YYYYMMDD-HHMMSS[-N].undo, named by the journal's time in UTC, under
// the first of those names that is free: a journal never replaces another
// file. Empty on success, `written` naming the file; otherwise why no
// complete journal could be made (and no file of it is left behind).
std::string keep_journal(const JournalPlace& place, const Journal& journal, const char* stem,
                         std::string& written);
