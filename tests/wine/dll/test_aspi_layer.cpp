// WNASPI32.DLL for the tests under Wine: the image disks of the Linux
// stand-in, served behind the two ordinals of ASPI for Win32.
//
// It reads the same settings as the stand-in (ASPI_DISKS, and ASPI_SUPPORT
// to force a support word). Like a real adapter, and unlike the stand-in's
// default, it completes every SCSI request on a thread of its own:
// SendASPI32Command queues the block and returns SS_PENDING, and the layer's
// thread executes it and calls the posting routine, so the program under
// test always goes through its 1 ms completion wait. Disks marked "async"
// add the stand-in's own delay on top.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "platform/aspi_backend.h"
#include "platform/image/async_poster.h"
#include "platform/image/image_backend.h"
#include "platform/common/number_text.h"
#include "platform/wnaspi32.h"

namespace {

std::string environment_text(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
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

struct TestLayer {
  std::unique_ptr<platform::AspiBackend> disks =
      platform::make_image_backend(environment_text("ASPI_DISKS"), std::cerr);
  // Requests run as soon as the thread picks them up; the requester has
  // usually gone to sleep by then.
  platform::AsyncPoster completer{std::chrono::milliseconds(0)};
};

// Built on the first call, from the environment of that moment, and never
// destroyed: tearing the thread down from DllMain at process exit would run
// under the loader lock. Every request has been posted before the program
// ends, since it waits for each one.
TestLayer& layer() {
  static TestLayer* const instance = new TestLayer;
  return *instance;
}

}  // namespace

// Exported by ordinal through the .def file, with the published names.
extern "C" {

aspi_types::DWORD __cdecl test_aspi_get_support_info() {
  aspi_types::DWORD word = 0;
  if (forced_support_word(word)) return word;
  return layer().disks->support_info();
}

aspi_types::DWORD __cdecl test_aspi_send_command(LPSRB request) {
  if (request == nullptr) return SS_INVALID_SRB;
  auto* srb = static_cast<SRB_ExecSCSICmd*>(request);
  TestLayer& test_layer = layer();
  // Commands other than SC_EXEC_SCSI_CMD are refused at once, unposted.
  if (srb->SRB_Cmd != SC_EXEC_SCSI_CMD) return test_layer.disks->send(*srb);
  srb->SRB_Status = SS_PENDING;
  test_layer.completer.submit([&test_layer, srb] { test_layer.disks->send(*srb); });
  return SS_PENDING;
}

}  // extern "C"
