// A test-only library preloaded into Wine (LD_PRELOAD) that plays the Linux
// SCSI generic driver for image files. Wine carries a Windows program's
// IOCTL_SCSI_PASS_THROUGH_DIRECT to the SG_IO ioctl on the file's
// descriptor; this library answers SG_IO on descriptors of the images named
// in TESSALY_FAKE_SG_DISKS (the ASPI_DISKS syntax, Unix paths) with the image
// disks' own SCSI emulation, so that badread, badwrite, ro and model behave
// as everywhere else. Every other ioctl goes to the C library.
#include <dlfcn.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/common/scsi_commands.h"
#include "platform/common/srb_outcome.h"
#include "platform/image/image_disk.h"
#include "platform/image/image_scsi.h"

namespace {

struct FakeDevice {
  dev_t device;
  ino_t inode;
  std::unique_ptr<platform::ImageDisk> disk;
};

std::mutex devices_mutex;

std::vector<FakeDevice>& devices() {
  static std::vector<FakeDevice>* const list = [] {
    auto* found = new std::vector<FakeDevice>;
    const char* text = std::getenv("TESSALY_FAKE_SG_DISKS");
    for (const auto& config : platform::parse_image_disks(text != nullptr ? text : "", std::cerr)) {
      struct stat st {};
      auto disk = platform::ImageDisk::open(config, std::cerr);
      if (disk && ::stat(config.path.c_str(), &st) == 0) found->push_back({st.st_dev, st.st_ino, std::move(disk)});
    }
    return found;
  }();
  return *list;
}

platform::ImageDisk* disk_behind(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  for (FakeDevice& device : devices()) {
    if (device.device == st.st_dev && device.inode == st.st_ino) return device.disk.get();
  }
  return nullptr;
}

// One SG_IO request against an image disk, answered as the kernel would.
int answer(platform::ImageDisk& disk, sg_io_hdr_t& header) {
  SRB_ExecSCSICmd srb{};
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_CDBLen = std::min<std::uint8_t>(header.cmd_len, sizeof srb.CDBByte);
  std::memcpy(srb.CDBByte, header.cmdp, srb.SRB_CDBLen);
  srb.SRB_Flags = header.dxfer_direction == SG_DXFER_FROM_DEV ? SRB_DIR_IN
                  : header.dxfer_direction == SG_DXFER_TO_DEV ? SRB_DIR_OUT
                                                              : 0;
  srb.SRB_BufPointer = static_cast<std::uint8_t*>(header.dxferp);
  srb.SRB_BufLen = header.dxfer_len;
  srb.SRB_SenseLen = SENSE_LEN;
  if (srb.CDBByte[platform::CDB_OPCODE] == platform::OP_SYNCHRONIZE_CACHE_10) {
    std::cerr << "fake sg: SYNCHRONIZE CACHE\n";  // the image file has no cache of its own
    platform::set_good(srb);
  } else {
    platform::execute_image_command(disk, srb);
  }
  // A target that does not answer: the kernel's DID_NO_CONNECT, which Wine
  // does not pass on; an I/O error says as much to a Windows program.
  if (srb.SRB_HaStat == platform::HASTAT_SEL_TO) {
    errno = EIO;
    return -1;
  }
  header.status = srb.SRB_TargStat;
  header.masked_status = srb.SRB_TargStat >> 1;
  header.host_status = 0;
  header.driver_status = srb.SRB_TargStat == platform::SCSI_STATUS_CHECK_CONDITION ? 0x08 : 0;
  header.sb_len_wr = 0;
  if (srb.SRB_TargStat == platform::SCSI_STATUS_CHECK_CONDITION && header.sbp != nullptr) {
    header.sb_len_wr = std::min<unsigned>(header.mx_sb_len, sizeof srb.SenseArea);
    std::memcpy(header.sbp, srb.SenseArea, header.sb_len_wr);
  }
  header.resid = srb.SRB_Status == SS_COMP ? 0 : static_cast<int>(header.dxfer_len);
  header.info = srb.SRB_Status == SS_COMP ? SG_INFO_OK : SG_INFO_CHECK;
  return 0;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  using Ioctl = int (*)(int, unsigned long, void*);
  static const auto real_ioctl = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
  if (request == SG_IO && argument != nullptr) {
    std::lock_guard<std::mutex> lock(devices_mutex);
    if (platform::ImageDisk* disk = disk_behind(fd)) return answer(*disk, *static_cast<sg_io_hdr_t*>(argument));
  }
  return real_ioctl(fd, request, argument);
}
