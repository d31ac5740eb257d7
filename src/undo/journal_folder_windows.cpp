#include <windows.h>

#include <cstdlib>

#include "undo/durable_file.h"
#include "undo/journal_folder.h"

namespace {

// SHGetFolderPathA, as SHELL32 (2000 on, and 98 SE with the shell of
// Internet Explorer 5) and SHFOLDER export it. Looked up at run time: the
// program must start where neither has it.
using GetFolderPathProc = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
constexpr int LOCAL_APPDATA_FOLDER = 0x001c;  // CSIDL_LOCAL_APPDATA
constexpr DWORD FOLDER_AS_IT_IS_NOW = 0;      // SHGFP_TYPE_CURRENT

const char* set_variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// A system library, by its full path: SHFOLDER.DLL is no known DLL, and a
// copy planted in the current folder must not be taken.
HMODULE system_library(const char* name) {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return LoadLibraryA((std::string(folder, length) + "\\" + name).c_str());
}

std::string shell_folder(const char* library_name) {
  HMODULE library = system_library(library_name);
  if (library == nullptr) return {};
  const auto get_folder_path = reinterpret_cast<GetFolderPathProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "SHGetFolderPathA")));
  char path[MAX_PATH] = {};
  std::string folder;
  if (get_folder_path != nullptr &&
      get_folder_path(nullptr, LOCAL_APPDATA_FOLDER, nullptr, FOLDER_AS_IT_IS_NOW, path) == S_OK) {
    folder = path;
  }
  FreeLibrary(library);
  return folder;
}

std::string program_folder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  const std::string program(path, length);
  const std::size_t slash = program.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

}  // namespace

std::string default_journal_folder() {
  for (const char* library : {"SHELL32.DLL", "SHFOLDER.DLL"}) {
    const std::string folder = shell_folder(library);
    if (!folder.empty()) return path_in(folder, "tessaly");
  }
  for (const char* variable : {"LOCALAPPDATA", "APPDATA", "USERPROFILE"}) {
    if (const char* folder = set_variable(variable)) return path_in(folder, "tessaly");
  }
  return program_folder();
}

std::string unnamed_journal_folder_reason() {
  return "TESSALY_UNDO_DIR is not set, and neither Windows' local application data folder nor LOCALAPPDATA, "
         "APPDATA, USERPROFILE or the program's own folder could be found";
}
