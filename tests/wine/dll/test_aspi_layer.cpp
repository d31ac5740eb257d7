// WNASPI32.DLL for the tests under Wine: the image disks of the Linux
// stand-in, served behind the two ordinals of ASPI for Win32. Built twice:
//
// - the prompt layer (WNASPI32.DLL): completes every SCSI request on a
//   thread of its own, as soon as that thread picks it up: SendASPI32Command
//   queues the block and returns SS_PENDING, and the layer's thread executes
//   it and calls the posting routine, so the program under test always goes
//   through its 1 ms completion wait. A target without a disk is answered
//   the same way, with SS_NO_DEVICE posted.
// - the paced layer (paced/WNASPI32.DLL, TEST_LAYER_PACED), which behaves as
//   the examples of the published interface do where the prompt one does
//   not: its thread posts each request 1 ms after it was sent, one request
//   in PACED_LONG_EVERY is kept pending for PACED_LONG_MS more, and a request
//   to a target without a disk is refused at once with SS_NO_DEVICE. Such a
//   layer may also post the refused request; ASPI_POST_ON_REFUSAL says
//   whether and when: "inside" (before SendASPI32Command returns), "thread"
//   (from the layer's thread, afterwards), unset or anything else: never.
//
// Both read the same settings as the stand-in (ASPI_DISKS, and ASPI_SUPPORT
// to force a support word). ASPI_SECOND_LIBRARY names a library the layer
// loads by name on its first call, as layers that load helpers at run time
// do; the tests plant it where only an unsafe search would find it. Disks marked "async" add the stand-in's own delay
// on top.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/aspi_backend.h"
#include "platform/common/number_text.h"
#include "platform/common/srb_outcome.h"
#include "platform/image/async_poster.h"
#include "platform/image/image_backend.h"
#include "platform/image/image_disks_config.h"
#include "platform/wnaspi32.h"

namespace {

#ifdef TEST_LAYER_PACED
constexpr bool PACED = true;
#else
constexpr bool PACED = false;
#endif
constexpr std::chrono::microseconds PACED_POST_DELAY{1000};
constexpr unsigned PACED_LONG_EVERY = 256;
constexpr DWORD PACED_LONG_MS = 50;

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

// Where the paced layer has a disk: adapter and target of every entry.
std::vector<std::pair<int, int>> disk_places(const std::string& settings) {
  std::ostringstream ignored;  // the backend has reported bad entries already
  std::vector<std::pair<int, int>> places;
  for (const auto& config : platform::parse_image_disks(settings, ignored)) {
    places.emplace_back(config.host_adapter, config.target_id);
  }
  return places;
}

HMODULE load_second_library(const std::string& name) {
  return name.empty() ? nullptr : LoadLibraryA(name.c_str());
}

struct TestLayer {
  const std::string settings = environment_text("ASPI_DISKS");
  std::unique_ptr<platform::AspiBackend> disks = platform::make_image_backend(settings, std::cerr);
  const std::vector<std::pair<int, int>> places = disk_places(settings);
  const std::string post_on_refusal = environment_text("ASPI_POST_ON_REFUSAL");
  unsigned sent = 0;
  platform::AsyncPoster completer{PACED ? PACED_POST_DELAY : std::chrono::microseconds(0)};
  // Loaded by name, wherever the process's search finds it; not needed.
  const HMODULE second_library = load_second_library(environment_text("ASPI_SECOND_LIBRARY"));

  bool has_disk(const SRB_ExecSCSICmd& srb) const {
    for (const auto& place : places) {
      if (srb.SRB_Lun == 0 && place.first == srb.SRB_HaId && place.second == srb.SRB_Target) return true;
    }
    return false;
  }
};

// Built on the first call, from the environment of that moment, and never
// destroyed: tearing the thread down from DllMain at process exit would run
// under the loader lock. Every request has been posted before the program
// ends, since it waits for each one.
TestLayer& layer() {
  static TestLayer* const instance = new TestLayer;
  return *instance;
}

aspi_types::DWORD refuse_missing_target(TestLayer& test_layer, SRB_ExecSCSICmd* srb) {
  platform::set_adapter_outcome(*srb, SS_NO_DEVICE, platform::HASTAT_SEL_TO);
  if (test_layer.post_on_refusal == "inside") {
    platform::post_completion(*srb);
  } else if (test_layer.post_on_refusal == "thread") {
    test_layer.completer.submit([srb] { platform::post_completion(*srb); });
  }
  return SS_NO_DEVICE;
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
  if (PACED && !test_layer.has_disk(*srb)) return refuse_missing_target(test_layer, srb);
  const bool long_one = PACED && ++test_layer.sent % PACED_LONG_EVERY == 0;
  srb->SRB_Status = SS_PENDING;
  test_layer.completer.submit([&test_layer, srb, long_one] {
    if (long_one) Sleep(PACED_LONG_MS);
    test_layer.disks->send(*srb);
  });
  return SS_PENDING;
}

}  // extern "C"
