// Where journals go when TESSALY_UNDO_DIR does not say: the system's own
// place for a user's local program data, in a folder "tessaly".
//
// - Linux and the other POSIX systems: $XDG_STATE_HOME/tessaly, else
//   ~/.local/state/tessaly.
// - Windows: the local application data folder as the shell names it
//   (SHGetFolderPathA with CSIDL_LOCAL_APPDATA, from SHELL32, or from
//   SHFOLDER where SHELL32 is too old: Windows 98 SE with its shell
//   update), else %LOCALAPPDATA%, %APPDATA% or %USERPROFILE%, each with
//   "tessaly" added, else the folder that holds the program itself.
#pragma once

#include <string>

// The folder, or "" when none can be named.
std::string default_journal_folder();

// Why no folder could be named, in the words of this system's settings.
std::string unnamed_journal_folder_reason();
