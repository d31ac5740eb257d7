// Loading WNASPI32.DLL: ordinals 1 and 2, and what counts as no ASPI layer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/wnaspi32_dll/aspi_library.h"
#include "platform/win32_api.h"
#include "scsi/drive_discovery.h"

namespace {

std::string module_file_name(HMODULE module) {
  char name[MAX_PATH] = {};
  GetModuleFileNameA(module, name, MAX_PATH);
  return name;
}

bool ends_with_ignoring_case(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && _stricmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

TEST(AspiLibraryLoading, MissingLibraryIsUnusable) {
  platform::AspiLibrary library = platform::load_aspi_library("NOSUCHASPI.DLL");
  EXPECT_EQ(library.module, nullptr);
  EXPECT_FALSE(library.usable());
}

TEST(AspiLibraryLoading, LibraryWithoutOrdinalTwoIsUnusableAndReleased) {
  platform::AspiLibrary library = platform::load_aspi_library("HALFASPI.DLL");
  EXPECT_FALSE(library.usable());
  EXPECT_EQ(library.module, nullptr);
  EXPECT_EQ(GetModuleHandleA("HALFASPI.DLL"), nullptr) << "a half layer must not stay loaded";
}

TEST(AspiLibraryLoading, OrdinalsAreThePublishedEntryPoints) {
  platform::AspiLibrary library = platform::load_aspi_library("WNASPI32.DLL");
  ASSERT_TRUE(library.usable());
  // The ordinals must reach the functions the DLL exports under the
  // published names, not merely any export.
  EXPECT_EQ(reinterpret_cast<void*>(library.get_support_info),
            reinterpret_cast<void*>(GetProcAddress(library.module, "GetASPI32SupportInfo")));
  EXPECT_EQ(reinterpret_cast<void*>(library.send_command),
            reinterpret_cast<void*>(GetProcAddress(library.module, "SendASPI32Command")));
  platform::unload_aspi_library(library);
  EXPECT_EQ(library.module, nullptr);
  EXPECT_FALSE(library.usable());
}

// A DLL planted in the current folder (or a folder on PATH) must never be
// taken, whichever way the folders are searched; the plain LoadLibraryA of
// the same name, which does search the current folder, shows the plant works.
class PlantedLibrary : public testing::TestWithParam<platform::LibrarySearch> {
 protected:
  void SetUp() override {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    original_folder_ = folder;
    CreateDirectoryA("planted", nullptr);
    ASSERT_TRUE(CopyFileA("WNASPI32.DLL", "planted\\PLANTED.DLL", FALSE));
    ASSERT_TRUE(SetCurrentDirectoryA("planted"));
  }
  void TearDown() override { SetCurrentDirectoryA(original_folder_.c_str()); }

  std::string original_folder_;
};

// After the layer is loaded, a library it loads in turn by name is not
// taken from the current folder either.
TEST_P(PlantedLibrary, LibraryInTheCurrentFolderIsIgnored) {
  char found[MAX_PATH] = {};
  ASSERT_NE(SearchPathA(nullptr, "PLANTED.DLL", nullptr, MAX_PATH, found, nullptr), 0u)
      << "the plant is where an ordinary search finds it";
  platform::AspiLibrary library = platform::load_aspi_library("PLANTED.DLL", GetParam());
  EXPECT_EQ(library.module, nullptr);
  EXPECT_EQ(GetModuleHandleA("PLANTED.DLL"), nullptr);
  platform::AspiLibrary layer = platform::load_aspi_library("WNASPI32.DLL", GetParam());
  EXPECT_TRUE(layer.usable());
  HMODULE loaded_in_turn = LoadLibraryA("PLANTED.DLL");
  EXPECT_EQ(loaded_in_turn, nullptr);
  if (loaded_in_turn != nullptr) FreeLibrary(loaded_in_turn);
}

TEST_P(PlantedLibrary, LibraryBesideTheProgramIsTaken) {
  platform::AspiLibrary library = platform::load_aspi_library("WNASPI32.DLL", GetParam());
  ASSERT_TRUE(library.usable());
  const std::string program = module_file_name(nullptr);
  const std::string folder = program.substr(0, program.find_last_of("\\/") + 1);
  EXPECT_TRUE(ends_with_ignoring_case(module_file_name(library.module), folder + "WNASPI32.DLL"))
      << module_file_name(library.module);
}

INSTANTIATE_TEST_SUITE_P(BothSearches, PlantedLibrary,
                         testing::Values(platform::LibrarySearch::search_flags,
                                         platform::LibrarySearch::full_paths));

TEST(AspiSupportProbe, SupportWordComesFromTheLayer) {
  // Adapters 0 and 1 hold disks: count 2, status SS_COMP.
  EXPECT_EQ(GetASPI32SupportInfo(), 0x0102u);
  const AspiSupport support = check_aspi_support();
  EXPECT_TRUE(support.present);
  EXPECT_EQ(support.adapter_count, 2);
}

TEST(AspiSupportProbe, NoAdaptersWithStatusCompIsAbsent) {
  ASSERT_EQ(_putenv("ASPI_SUPPORT=0x0100"), 0);
  const aspi_types::DWORD word = GetASPI32SupportInfo();
  const AspiSupport support = check_aspi_support();
  ASSERT_EQ(_putenv("ASPI_SUPPORT="), 0);
  EXPECT_EQ(word, platform::ASPI_ABSENT_SUPPORT_WORD);
  EXPECT_FALSE(support.present);
}

TEST(ConsoleMode, StandardOutputIsBinaryBeforeMainRuns) {
  // _setmode returns the mode it replaces: the start-up must already have
  // switched off the "\n" to "\r\n" translation.
  std::fflush(stdout);
  EXPECT_EQ(_setmode(_fileno(stdout), _O_BINARY), _O_BINARY);
}

}  // namespace
