// WNASPI32.DLL as the program finds it: the module and the two entry points
// that ASPI for Win32 exports by ordinal (1 GetASPI32SupportInfo,
// 2 SendASPI32Command). Both are __cdecl, as the interface publishes them.
//
// A disk tool runs with an administrator's rights, so the DLL is taken only
// from the program's own folder or the system folder, never from the current
// folder or a folder on PATH, where anyone could have planted one.
#pragma once

#include <windows.h>

#include "platform/wnaspi32.h"

namespace platform {

using GetSupportInfoProc = aspi_types::DWORD(__cdecl*)();
using SendCommandProc = aspi_types::DWORD(__cdecl*)(LPSRB);

constexpr const char* ASPI_LIBRARY_NAME = "WNASPI32.DLL";
constexpr WORD GET_SUPPORT_INFO_ORDINAL = 1;
constexpr WORD SEND_COMMAND_ORDINAL = 2;

// The support word of a machine without ASPI for Win32: no adapters, status
// SS_COMP. Start-up reads exactly this combination as "ASPI absent".
constexpr aspi_types::DWORD ASPI_ABSENT_SUPPORT_WORD = SS_COMP << 8;

// How the two folders are searched. Windows 7 with the 2011 loader update
// and every later Windows take the folders as LoadLibraryExA search flags,
// and as the process's default (SetDefaultDllDirectories), so that a library
// the layer loads in turn is searched there only; older ones (98 SE to
// Vista) know no such flags, so the DLL is loaded by its full path in each
// folder in turn, with LOAD_WITH_ALTERED_SEARCH_PATH. Both leave the current
// folder out of every later search where SetDllDirectoryA exists (XP SP1
// on); a folder on PATH stays in the search of what the layer loads on
// Windows before 7.
enum class LibrarySearch {
  as_the_system_allows,  // search flags where understood, else full paths
  search_flags,
  full_paths,
};

struct AspiLibrary {
  HMODULE module = nullptr;
  GetSupportInfoProc get_support_info = nullptr;
  SendCommandProc send_command = nullptr;

  bool usable() const { return get_support_info != nullptr && send_command != nullptr; }
};

// Loads `file_name` from the program's folder, else the system folder, and
// takes both ordinals. A DLL found in neither, or lacking either ordinal,
// gives an unusable record (and is released again).
AspiLibrary load_aspi_library(const char* file_name,
                              LibrarySearch search = LibrarySearch::as_the_system_allows);

// Releases a library taken with load_aspi_library and clears the record.
void unload_aspi_library(AspiLibrary& library);

}  // namespace platform
