#include "platform/wnaspi32_dll/aspi_library.h"

#include <string>

namespace platform {

namespace {

// GetProcAddress hands back a generic FARPROC; going through void (*)()
// says that the real signature is known to the caller, which casts it to the
// published one.
using AnyProc = void (*)();
using SetDllDirectoryProc = BOOL(WINAPI*)(LPCSTR);
using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);

constexpr DWORD SAFE_FOLDERS = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

AnyProc kernel32_entry(const char* name) {
  return reinterpret_cast<AnyProc>(GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), name));
}

AnyProc ordinal_entry(HMODULE module, WORD ordinal) {
  return reinterpret_cast<AnyProc>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
}

// AddDllDirectory came with the loader that understands the
// LOAD_LIBRARY_SEARCH_* flags and SetDefaultDllDirectories: where it
// exists, so do they.
bool search_flags_understood() { return kernel32_entry("AddDllDirectory") != nullptr; }

// A folder name with its trailing backslash, or "" if Windows could not
// give it whole.
std::string folder_of_program() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  const std::string program(path, length);
  return program.substr(0, program.find_last_of("\\/") + 1);
}

std::string system_folder() {
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(path, length) + "\\";
}

// Keeps the current folder out of the search for every library loaded from
// now on, the ones the layer loads in turn included (XP SP1 on).
void leave_out_current_folder() {
  if (auto set_dll_directory = reinterpret_cast<SetDllDirectoryProc>(kernel32_entry("SetDllDirectoryA"))) {
    set_dll_directory("");
  }
}

// Every later search of the process, the layer's own LoadLibrary calls
// included, goes to the same two folders and nowhere else.
HMODULE load_by_search_flags(const char* file_name) {
  if (auto set_default = reinterpret_cast<SetDefaultDllDirectoriesProc>(kernel32_entry("SetDefaultDllDirectories"))) {
    set_default(SAFE_FOLDERS);
  }
  leave_out_current_folder();
  return LoadLibraryExA(file_name, nullptr, SAFE_FOLDERS);
}

// A full path settles where the layer itself comes from; with
// LOAD_WITH_ALTERED_SEARCH_PATH its own imports are looked for in its folder
// first, not in the current folder (which Windows 2000 and XP before SP2
// search first for a library loaded by full path).
HMODULE load_by_full_paths(const char* file_name) {
  leave_out_current_folder();
  for (const std::string& folder : {folder_of_program(), system_folder()}) {
    if (folder.empty()) continue;
    if (HMODULE module = LoadLibraryExA((folder + file_name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
      return module;
    }
  }
  return nullptr;
}

HMODULE load_from_safe_folders(const char* file_name, LibrarySearch search) {
  if (search == LibrarySearch::as_the_system_allows) {
    search = search_flags_understood() ? LibrarySearch::search_flags : LibrarySearch::full_paths;
  }
  return search == LibrarySearch::search_flags ? load_by_search_flags(file_name) : load_by_full_paths(file_name);
}

}  // namespace

AspiLibrary load_aspi_library(const char* file_name, LibrarySearch search) {
  AspiLibrary library;
  library.module = load_from_safe_folders(file_name, search);
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
