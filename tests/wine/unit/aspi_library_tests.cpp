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

TEST(AspiLibraryLoading, StartupLoadsTheLayerBesideTheProgram) {
  const platform::AspiLibrary& library = platform::startup_aspi_library();
  ASSERT_TRUE(library.usable());
  const std::string program = module_file_name(nullptr);
  const std::string folder = program.substr(0, program.find_last_of("\\/") + 1);
  EXPECT_TRUE(ends_with_ignoring_case(module_file_name(library.module), folder + "WNASPI32.DLL"))
      << module_file_name(library.module);
}

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
