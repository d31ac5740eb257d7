// WNASPI32.DLL as the program finds it: the module and the two entry points
// that ASPI for Win32 exports by ordinal (1 GetASPI32SupportInfo,
// 2 SendASPI32Command). Both are __cdecl, as the interface publishes them.
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

struct AspiLibrary {
  HMODULE module = nullptr;
  GetSupportInfoProc get_support_info = nullptr;
  SendCommandProc send_command = nullptr;

  bool usable() const { return get_support_info != nullptr && send_command != nullptr; }
};

// Loads `file_name` and takes both ordinals. A DLL that cannot be loaded, or
// lacks either ordinal, gives an unusable record (and is released again).
AspiLibrary load_aspi_library(const char* file_name);

// Releases a library taken with load_aspi_library and clears the record.
void unload_aspi_library(AspiLibrary& library);

// The library loaded at process start-up (ASPI_LIBRARY_NAME, searched the
// usual Windows way: the program's folder first, then the system folders).
const AspiLibrary& startup_aspi_library();

}  // namespace platform
