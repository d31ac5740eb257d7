// What the SG_IO backend asks of the kernel, kept behind one small interface
// so that the adapter mapping, the routing of request blocks and the write
// guard can be exercised against a scripted kernel; the real one lives in
// scsi_generic_linux_io.cpp.
#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::sg {

// A Linux SCSI address: host number ("scsiN"), channel, target id, LUN.
struct ScsiAddress {
  int host = -1;
  int channel = -1;
  int id = -1;
  int lun = -1;
};

// An exclusive claim of a block device: its descriptor and its node
// ("/dev/sdb").
struct BlockClaim {
  int fd = -1;
  std::string path;
};

enum class Direction { none, from_device, to_device };

// One command as it travels through SG_IO.
struct SgCommand {
  const std::uint8_t* cdb = nullptr;
  std::uint8_t cdb_length = 0;
  Direction direction = Direction::none;
  std::uint8_t* data = nullptr;
  std::uint32_t data_length = 0;
  unsigned timeout_ms = 0;
  std::uint8_t sense[32] = {};
};

// What came back: the errno of a failed ioctl (0 when the call itself
// worked), then the transport and target parts of the sg_io_hdr.
struct SgOutcome {
  int os_error = 0;
  std::uint16_t host_status = 0;
  std::uint16_t driver_status = 0;
  std::uint8_t scsi_status = 0;
  std::uint8_t sense_written = 0;
  int residual = 0;
  // After a transport error: the device's state showed it leaving
  // (device_leaving in scsi_generic_sysfs.h).
  bool device_leaving = false;
};

// The kernel side. Results are 0 or a negative errno.
class SgDeviceIo {
 public:
  virtual ~SgDeviceIo() = default;
  // Opens a device node; returns a descriptor or -errno.
  virtual int open_node(const std::string& path, bool writable) = 0;
  virtual void close_node(int fd) = 0;
  // SG_GET_SCSI_ID.
  virtual int scsi_id(int fd, ScsiAddress& address) = 0;
  // SG_IO.
  virtual SgOutcome execute(int fd, SgCommand& command) = 0;
  // Opens a block device node for reading with the kernel's exclusive claim
  // (O_EXCL); returns a descriptor, closed with close_node, or -errno:
  // -EBUSY while the device is mounted, used as swap or claimed by another
  // driver or program, -ENODEV when the node is not the block device
  // `number` ("major:minor").
  virtual int claim_block(const std::string& path, const std::string& number) = 0;
  // The "major:minor" of the block device a path names, or "" when it names
  // none.
  virtual std::string block_number(const std::string& path) = 0;
  // BLKRRPART on a whole disk's claimed descriptor: the kernel reads the
  // partition table again and makes the partitions' block devices anew.
  // 0 or -errno (-EBUSY while a partition is open).
  virtual int reread_partitions(int fd) = 0;
  // SG_GET_RESERVED_SIZE: the bytes the driver keeps ready for one command,
  // or -errno.
  virtual int reserved_size(int fd) {
    (void)fd;
    return -ENOTTY;
  }
  // Opens the disk's block device node for reading, without a claim, to
  // send READ(10)s through it (SG_IO works on it too); returns a descriptor,
  // closed with close_node, or -errno, -ENODEV when the node is not the
  // block device `number` ("major:minor").
  virtual int open_block(const std::string& path, const std::string& number) {
    (void)path;
    (void)number;
    return -ENOTTY;
  }
};

std::unique_ptr<SgDeviceIo> make_linux_sg_io();

// Where the backend looks. The defaults are the machine's own; tests point
// them at a fake tree.
struct SgEnvironment {
  std::string class_dir = "/sys/class/scsi_generic";
  std::string dev_dir = "/dev";
  std::string block_dir = "/sys/block";
  std::string mountinfo_path = "/proc/self/mountinfo";
  std::string swaps_path = "/proc/swaps";
  std::shared_ptr<SgDeviceIo> io;
  // One line for the user (standard error by default).
  std::function<void(const std::string&)> tell_user;
};

}  // namespace platform::sg
