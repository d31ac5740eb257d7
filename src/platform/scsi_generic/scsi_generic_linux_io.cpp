// The kernel side of the SG_IO backend: open(2) on /dev/sgN, SG_GET_SCSI_ID
// and SG_IO, the exclusive claim of block devices and the re-reading of a
// disk's partition table.
#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "platform/scsi_generic/scsi_generic_types.h"

namespace platform::sg {
namespace {

int transfer_direction(Direction direction) {
  switch (direction) {
    case Direction::from_device:
      return SG_DXFER_FROM_DEV;
    case Direction::to_device:
      return SG_DXFER_TO_DEV;
    case Direction::none:
      break;
  }
  return SG_DXFER_NONE;
}

std::string number_text(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The block device `number` at `path`, or -errno (-ENODEV when the node is
// another one).
int open_block_device(const std::string& path, int flags, const std::string& number) {
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return -errno;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISBLK(info.st_mode) || number_text(info.st_rdev) != number) {
    ::close(fd);
    return -ENODEV;
  }
  return fd;
}

class LinuxSgIo final : public SgDeviceIo {
 public:
  int open_node(const std::string& path, bool writable) override {
    // O_NONBLOCK only keeps open() from waiting on another program's
    // exclusive open; SG_IO itself always waits for the command.
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
  }

  void close_node(int fd) override { ::close(fd); }

  int scsi_id(int fd, ScsiAddress& address) override {
    sg_scsi_id id{};
    if (::ioctl(fd, SG_GET_SCSI_ID, &id) != 0) return -errno;
    address = {id.host_no, id.channel, id.scsi_id, id.lun};
    return 0;
  }

  int reserved_size(int fd) override {
    int bytes = 0;
    if (::ioctl(fd, SG_GET_RESERVED_SIZE, &bytes) != 0) return -errno;
    return bytes;
  }

  SgOutcome execute(int fd, SgCommand& command) override {
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.dxfer_direction = transfer_direction(command.direction);
    header.cmd_len = command.cdb_length;
    header.cmdp = const_cast<unsigned char*>(command.cdb);
    header.mx_sb_len = sizeof command.sense;
    header.sbp = command.sense;
    header.dxfer_len = command.direction == Direction::none ? 0 : command.data_length;
    header.dxferp = command.direction == Direction::none ? nullptr : command.data;
    header.timeout = command.timeout_ms;
    SgOutcome outcome;
    if (::ioctl(fd, SG_IO, &header) != 0) {
      outcome.os_error = errno;
      return outcome;
    }
    outcome.host_status = header.host_status;
    outcome.driver_status = header.driver_status;
    outcome.scsi_status = header.status;
    outcome.sense_written = header.sb_len_wr;
    outcome.residual = header.resid;
    return outcome;
  }

  int claim_block(const std::string& path, const std::string& number) override {
    // O_EXCL on a block device is the kernel's exclusive claim; reading is
    // all it needs.
    return open_block_device(path, O_RDONLY | O_EXCL | O_CLOEXEC, number);
  }

  int open_block(const std::string& path, const std::string& number) override {
    return open_block_device(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC, number);
  }

  // Through the exclusive claim the kernel lets this process read the
  // partition table again while nobody else may claim the disk.
  int reread_partitions(int fd) override { return ::ioctl(fd, BLKRRPART) == 0 ? 0 : -errno; }

  std::string block_number(const std::string& path) override {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return {};
    return number_text(info.st_rdev);
  }
};

}  // namespace

std::unique_ptr<SgDeviceIo> make_linux_sg_io() { return std::make_unique<LinuxSgIo>(); }

}  // namespace platform::sg
