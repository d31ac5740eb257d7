#include "platform/wnaspi32_dll/aspi_library.h"

namespace platform {

namespace {

// GetProcAddress hands back a generic FARPROC; going through void (*)()
// says that the real signature is known to the caller, which casts it to the
// published one of the ordinal.
using AnyProc = void (*)();

AnyProc ordinal_entry(HMODULE module, WORD ordinal) {
  return reinterpret_cast<AnyProc>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
}

}  // namespace

AspiLibrary load_aspi_library(const char* file_name) {
  AspiLibrary library;
  library.module = LoadLibraryA(file_name);
  if (library.module == nullptr) return library;
  library.get_support_info =
      reinterpret_cast<GetSupportInfoProc>(ordinal_entry(library.module, GET_SUPPORT_INFO_ORDINAL));
  library.send_command =
      reinterpret_cast<SendCommandProc>(ordinal_entry(library.module, SEND_COMMAND_ORDINAL));
  if (!library.usable()) unload_aspi_library(library);
  return library;
}

void unload_aspi_library(AspiLibrary& library) {
  if (library.module != nullptr) FreeLibrary(library.module);
  library = AspiLibrary{};
}

}  // namespace platform
