// The machine's own SCSI devices as ASPI host adapters and targets, reached
// through the Linux SCSI generic driver. Each request block travels as one
// SG_IO call (a read-ahead window's through the disk's block device node,
// which moves the sectors without a copy) and is completed, its posting
// routine called, before SendASPI32Command returns.
//
// Only the four commands this utility sends travel to a device: INQUIRY,
// READ CAPACITY(10), READ(10) and WRITE(10). Everything else is refused, so
// that the safety check before writing cannot be passed by another command
// that writes. Before a device's first WRITE(10) the write guard claims its
// disk (scsi_generic_write_guard.h); the claim is kept while the backend
// lives, and through it the kernel reads the partition table again at the
// end when the boot area was written (scsi_generic_reread.h).
#include "platform/scsi_generic/scsi_generic_backend.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/common/srb_commands.h"
#include "platform/common/srb_outcome.h"
#include "platform/scsi_generic/scsi_generic_devices.h"
#include "platform/scsi_generic/scsi_generic_outcome.h"
#include "platform/scsi_generic/scsi_generic_reread.h"
#include "platform/scsi_generic/scsi_generic_setup.h"
#include "platform/scsi_generic/scsi_generic_sync.h"
#include "platform/scsi_generic/scsi_generic_sysfs.h"
#include "platform/scsi_generic/scsi_generic_write_guard.h"

namespace platform {
namespace sg {
namespace {

constexpr std::uint32_t BLOCK_BYTES = 512;
constexpr std::uint32_t FALLBACK_TRANSFER_BYTES = 64 * 1024;

// Sense keys and codes of the refusals.
constexpr std::uint8_t KEY_ILLEGAL_REQUEST = 0x05;
constexpr std::uint8_t KEY_DATA_PROTECT = 0x07;
constexpr std::uint8_t ASC_INVALID_OPCODE = 0x20;
constexpr std::uint8_t ASC_INVALID_FIELD_IN_CDB = 0x24;
constexpr std::uint8_t ASC_WRITE_PROTECTED = 0x27;

Direction direction_of(std::uint8_t opcode) {
  return opcode == OP_WRITE_10 ? Direction::to_device : Direction::from_device;
}

class ScsiGenericBackend final : public AspiBackend {
 public:
  explicit ScsiGenericBackend(SgEnvironment env) : env_(std::move(env)) {}
  // The backend lives until the process exits: devices written since the
  // last flush flush their caches first, and the kernel reads rewritten
  // partition tables again before the claims go.
  ~ScsiGenericBackend() override {
    flush_writes();
    close_devices(table_, *env_.io);
  }

  // At the end of the run's writes, so that what the flush tells comes
  // before the run's own last words.
  void flush_writes() override {
    synchronize_written_devices(table_, *env_.io, env_.dev_dir, env_.tell_user);
    reread_partition_tables(table_, *env_.io, env_.tell_user);
  }

  std::uint32_t support_info() override {
    scan_once();
    if (!table_.driver_present) return std::uint32_t{SS_COMP} << 8;  // no ASPI at all
    if (table_.adapter_count == 0) return std::uint32_t{SS_NO_ADAPTERS} << 8;
    return (std::uint32_t{SS_COMP} << 8) | static_cast<std::uint32_t>(table_.adapter_count);
  }

  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    if (srb.SRB_Cmd != SC_EXEC_SCSI_CMD) {
      srb.SRB_Status = SS_INVALID_CMD;
      return SS_INVALID_CMD;
    }
    scan_once();
    execute(srb);
    post_completion(srb);  // the routine may free the block: nothing touches it afterwards
    return SS_COMP;
  }

  // What the kernel passes to the device in one command: the block queue's
  // limit when a disk driver is bound, else the sg driver's reserved buffer,
  // else the 64 KiB every adapter takes.
  std::uint32_t max_transfer_sectors(int host_adapter, int target_id) override {
    scan_once();
    SgDevice* device = find_device(table_, host_adapter, target_id);
    if (device == nullptr) return 0;
    if (auto kb = queue_max_sectors_kb(env_.class_dir, device->node)) return *kb * (1024 / BLOCK_BYTES);
    const int bytes = env_.io->reserved_size(device->fd);
    if (bytes >= static_cast<int>(BLOCK_BYTES)) return static_cast<std::uint32_t>(bytes) / BLOCK_BYTES;
    return FALLBACK_TRANSFER_BYTES / BLOCK_BYTES;
  }

 private:
  void scan_once() {
    if (scanned_) return;
    scanned_ = true;
    table_ = scan_devices(env_);
  }

  void tell(const std::string& line) {
    if (env_.tell_user) env_.tell_user(line);
  }

  void execute(SRB_ExecSCSICmd& srb) {
    if (srb.SRB_HaId >= table_.adapter_count) return refuse(srb, SS_INVALID_HA, 0, 0, 0);
    SgDevice* device = srb.SRB_Lun == 0 ? find_device(table_, srb.SRB_HaId, srb.SRB_Target) : nullptr;
    if (device == nullptr) return refuse(srb, SS_NO_DEVICE, 0, 0, 0);
    if (!block_is_sound(srb)) return refuse(srb, SS_INVALID_SRB, 0, 0, 0);
    const std::uint8_t opcode = srb.CDBByte[CDB_OPCODE];
    if (!known_command(opcode, srb.SRB_CDBLen)) {
      return refuse(srb, SS_ERR, KEY_ILLEGAL_REQUEST, ASC_INVALID_OPCODE, 0);
    }
    if (!direction_agrees(srb, opcode == OP_WRITE_10)) return refuse(srb, SS_INVALID_SRB, 0, 0, 0);
    const bool sized = opcode == OP_READ_10 || opcode == OP_WRITE_10;
    if (sized && srb.SRB_BufLen < transfer_blocks(srb) * BLOCK_BYTES) {
      return refuse(srb, SS_ERR, KEY_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB, 0);
    }
    if (opcode == OP_WRITE_10 && !may_write(*device)) {
      return refuse(srb, SS_ERR, KEY_DATA_PROTECT, ASC_WRITE_PROTECTED, 0);
    }
    transfer(srb, *device, direction_of(opcode), sized);
  }

  void transfer(SRB_ExecSCSICmd& srb, SgDevice& device, Direction direction, bool exact) {
    SgCommand command;
    command.cdb = srb.CDBByte;
    command.cdb_length = srb.SRB_CDBLen;
    command.direction = srb.SRB_BufLen == 0 ? Direction::none : direction;
    command.data = srb.SRB_BufPointer;
    command.data_length = srb.SRB_BufLen;
    command.timeout_ms = COMMAND_TIMEOUT_MS;
    SgOutcome outcome = execute_on_device(srb, device, command);
    if (outcome.host_status != 0) outcome.device_leaving = device_leaving(env_.class_dir, device.node);
    // Even a failed write may have changed some of its sectors.
    if (direction == Direction::to_device && writes_partition_area(srb)) device.partition_area_written = true;
    store_outcome(srb, rank_outcome(outcome, exact), command.sense, outcome.sense_written);
    if (srb.SRB_Status == SS_NO_DEVICE) device.gone = true;
    if (direction != Direction::to_device) return;
    (srb.SRB_Status == SS_COMP ? device.written : device.write_failed) = true;
  }

  // A READ(10) of several sectors (a read-ahead window) goes through the
  // disk's block device node when a disk driver is bound: there the kernel
  // moves the sectors straight into the caller's memory, where the sg node
  // copies them through a buffer of its own. The command, its status and its
  // sense are the same either way. Should the block node fail the call
  // itself, the command goes to the sg node, and so does every later one.
  SgOutcome execute_on_device(const SRB_ExecSCSICmd& srb, SgDevice& device, SgCommand& command) {
    const bool window = srb.CDBByte[CDB_OPCODE] == OP_READ_10 && transfer_blocks(srb) > 1;
    if (window && block_read_fd(device) >= 0) {
      const SgOutcome outcome = env_.io->execute(device.read_fd, command);
      if (outcome.os_error == 0) return outcome;
      env_.io->close_node(device.read_fd);
      device.read_fd = -1;
    }
    return env_.io->execute(device.fd, command);
  }

  int block_read_fd(SgDevice& device) {
    if (device.read_fd_tried) return device.read_fd;
    device.read_fd_tried = true;
    const std::vector<BlockNode> nodes = block_nodes(env_.class_dir, device.node);
    if (nodes.empty() || nodes.front().partition) return -1;
    const int fd = env_.io->open_block(env_.dev_dir + "/" + nodes.front().name, nodes.front().number);
    device.read_fd = fd >= 0 ? fd : -1;
    return device.read_fd;
  }

  // Settled once per device, before its first WRITE(10).
  bool may_write(SgDevice& device) {
    if (!device.writable) {
      if (!device.told_read_only) {
        tell("tessaly: " + env_.dev_dir + "/" + device.node +
             " could only be opened for reading: its writes are refused");
        device.told_read_only = true;
      }
      return false;
    }
    if (device.write_check == WriteCheck::not_done) {
      WriteGuard guard = guard_writes(env_, device.node);
      device.claims = std::move(guard.claims);
      device.write_check = guard.refusal ? WriteCheck::refused : WriteCheck::safe;
      if (guard.refusal) tell("tessaly: " + *guard.refusal);
    }
    return device.write_check == WriteCheck::safe;
  }

  SgEnvironment env_;
  SgDeviceTable table_;
  bool scanned_ = false;
};

void to_standard_error(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

std::unique_ptr<AspiBackend> make_backend(SgEnvironment env) {
  if (!env.io) env.io = make_linux_sg_io();
  return std::make_unique<ScsiGenericBackend>(std::move(env));
}

}  // namespace sg

std::unique_ptr<AspiBackend> make_scsi_generic_backend() {
  sg::SgEnvironment env;
  env.tell_user = sg::to_standard_error;
  return sg::make_backend(std::move(env));
}

}  // namespace platform
