// WNASPI32.DLL for the tests under Wine: the image disks of the Linux
// stand-in, served behind the two ordinals of ASPI for Win32.
//
// It reads the same settings as the stand-in (ASPI_DISKS, and ASPI_SUPPORT
// to force a support word), with one difference: every disk posts its
// requests from the layer's own thread a few milliseconds after
// SendASPI32Command has returned SS_PENDING, as a real adapter does, so the
// program under test always runs its 1 ms completion wait.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "platform/aspi_backend.h"
#include "platform/posix/image_backend.h"
#include "platform/posix/number_text.h"
#include "platform/wnaspi32.h"

namespace {

std::string environment_text(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Appends the "async" attribute to every entry of an ASPI_DISKS text.
std::string with_async_posting(std::string_view settings) {
  std::string result;
  std::size_t start = 0;
  while (start <= settings.size()) {
    std::size_t end = settings.find(';', start);
    if (end == std::string_view::npos) end = settings.size();
    const std::string_view entry = settings.substr(start, end - start);
    if (!entry.empty()) {
      if (!result.empty()) result += ';';
      result.append(entry);
      result += ",async";
    }
    start = end + 1;
  }
  return result;
}

// The support word ASPI_SUPPORT forces, if it is set and a number.
bool forced_support_word(aspi_types::DWORD& word) {
  const std::string text = environment_text("ASPI_SUPPORT");
  std::uint64_t value = 0;
  if (text.empty()) return false;
  if (!platform::parse_unsigned(text, UINT32_MAX, value)) {
    std::cerr << "ASPI_SUPPORT: '" << text << "' is not a number; ignored\n";
    return false;
  }
  word = static_cast<aspi_types::DWORD>(value);
  return true;
}

// Built on the first call, from the environment of that moment, and never
// destroyed: tearing the poster thread down from DllMain at process exit
// would run under the loader lock. Every request has been posted before the
// program ends, since it waits for each one.
platform::AspiBackend& layer() {
  static platform::AspiBackend* const backend =
      platform::make_image_backend(with_async_posting(environment_text("ASPI_DISKS")), std::cerr).release();
  return *backend;
}

}  // namespace

// Exported by ordinal through the .def file, with the published names.
extern "C" {

aspi_types::DWORD __cdecl test_aspi_get_support_info() {
  aspi_types::DWORD word = 0;
  if (forced_support_word(word)) return word;
  return layer().support_info();
}

aspi_types::DWORD __cdecl test_aspi_send_command(LPSRB srb) {
  if (srb == nullptr) return SS_INVALID_SRB;
  return layer().send(*static_cast<SRB_ExecSCSICmd*>(srb));
}

}  // extern "C"
