#include "run/startup.h"

#include <cstdio>

#include "platform/win32_api.h"
#include "run/check_and_repair.h"
#include "run/command_line.h"
#include "scsi/drive_discovery.h"

// The maker's notice shown in the banner.
constexpr const char* MAKER_NOTICE = "(c) the tessaly authors";

namespace {

void print_banner() {
  std::printf("\nPellora Hard Drive Check Utility - %s Ver %s\n\n", MAKER_NOTICE, PROGRAM_VERSION);
}

void print_help() {
  std::printf("tessaly [-options] [+options] [device_number] [rw_file_hdName]\n");
  std::printf("   ?    : display help page\n");
  std::printf("   -vN  : turn on verbose mode (level N)\n");
}

int report_no_aspi() {
  std::printf("ERROR: no ASPI for WIN32 support detected\n");
  MessageBoxA(nullptr, "            This program requires\nWindows 98 SE or Windows Millenium",
              "  ERROR: no ASPI for WIN32 support detected !  ", MB_ICONWARNING);
  return EXIT_NO_ASPI;
}

int report_no_drive() {
  std::printf("ERROR: target device not found\n");
  MessageBoxA(nullptr,
              "The Pellora Hard Drive has not been detected:\n"
              "   - check connection to USB port\n"
              "   - Pellora must be powered on and\n"
              "   - USB icon shown on Pellora Diplay",
              "  ERROR: Pellora Hard Drive not detected ! ", MB_ICONWARNING);
  return EXIT_NO_DRIVE;
}

}  // namespace

int tessaly_main(int argc, const char* const* argv) {
  print_banner();
  if (is_help_request(argc, argv)) {
    print_help();
    return 0;
  }
  // ASPI comes first: without it no option is even looked at.
  const AspiSupport support = find_aspi_support();
  if (!support.present) return report_no_aspi();
  if (!read_options(argc, argv)) return 0;

  TargetDrive& drive = find_target_drive(support.adapter_count);
  if (drive.host_adapter == -1) return report_no_drive();
  claim_target_drive(drive);
  query_drive_capacity(drive);
  run_check_and_repair(drive);
  return 0;
}
