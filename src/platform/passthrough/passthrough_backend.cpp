// Each request block travels as one WIN_IOCTL_SCSI_PASS_THROUGH_DIRECT call (or
// several, when a READ(10) or WRITE(10) is longer than the adapter takes at
// once) and is completed, its posting routine called, before
// SendASPI32Command returns.
//
// Only the four commands this utility sends travel to a device: INQUIRY,
// READ CAPACITY(10), READ(10) and WRITE(10); the backend itself adds
// SYNCHRONIZE CACHE(10) after the last write. Everything else is refused, so
// that the volume locking cannot be passed by another command that writes.
//
// The volumes on the disk the run works on are locked when the run claims it,
// before its first READ(10); a disk written without a claim is locked before
// its first WRITE(10). A command that meets UNIT ATTENTION (the first one
// after a USB reset or a medium change) is sent once more.
#include "platform/passthrough/passthrough_backend.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

#include "platform/common/srb_outcome.h"
#include "platform/common/srb_commands.h"
#include "platform/dispatch/support_override.h"
#include "platform/passthrough/passthrough_disks.h"
#include "platform/passthrough/passthrough_outcome.h"
#include "platform/passthrough/passthrough_request.h"
#include "platform/passthrough/passthrough_volumes.h"

namespace platform {
namespace pt {
namespace {

constexpr std::uint32_t BLOCK_BYTES = 512;

constexpr std::uint8_t SENSE_KEY_UNIT_ATTENTION = 0x06;

// Fixed-format sense (0x70, 0x71) keeps its key in byte 2, descriptor-format
// sense (0x72, 0x73) in byte 1.
bool unit_attention(const PtResult& result) {
  if (result.os_error != 0 || result.scsi_status != SCSI_STATUS_CHECK_CONDITION || result.sense_length < 3) {
    return false;
  }
  const std::uint8_t format = result.sense[0] & 0x7F;
  if (format == 0x70 || format == 0x71) return (result.sense[2] & 0x0F) == SENSE_KEY_UNIT_ATTENTION;
  if (format == 0x72 || format == 0x73) return (result.sense[1] & 0x0F) == SENSE_KEY_UNIT_ATTENTION;
  return false;
}

bool block_is_sound(const SRB_ExecSCSICmd& srb, std::uint8_t data_in) {
  return platform::block_is_sound(srb) && direction_agrees(srb, data_in == WIN_SCSI_IOCTL_DATA_OUT);
}

class Backend final : public PassThroughBackend {
 public:
  explicit Backend(PtEnvironment env) : env_(std::move(env)) {}

  ~Backend() override {
    for (PtDisk& disk : table_.disks) {
      if (disk.wrote) flush(disk);
      for (Handle volume : disk.locked_volumes) env_.io->close(volume);
      env_.io->close(disk.handle);
    }
  }

  void claim_target(int host_adapter, int target_id, const char*) override {
    scan_once();
    if (PtDisk* disk = find_disk(table_, host_adapter, target_id)) settle_write_check(*disk);
  }

  void flush_writes() override {
    for (PtDisk& disk : table_.disks) {
      if (disk.wrote) flush(disk);
      disk.wrote = false;
    }
  }

  std::uint32_t support_info() override {
    scan_once();
    if (env_.support_forced) return env_.forced_support;
    if (!table_.any_disk) return std::uint32_t{SS_COMP} << 8;  // no pass-through: no ASPI at all
    if (table_.adapter_count == 0) return std::uint32_t{SS_NO_ADAPTERS} << 8;
    return (std::uint32_t{SS_COMP} << 8) | static_cast<std::uint32_t>(std::min(table_.adapter_count, 255));
  }

  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    if (srb.SRB_Cmd != SC_EXEC_SCSI_CMD) {
      srb.SRB_Status = SS_INVALID_CMD;
      return SS_INVALID_CMD;
    }
    scan_once();
    execute(srb);
    post_completion(srb);
    return SS_COMP;
  }

  std::uint32_t max_transfer_sectors(int host_adapter, int target) override {
    scan_once();
    const PtDisk* disk = find_disk(table_, host_adapter, target);
    return disk == nullptr ? 0 : std::max<std::uint32_t>(disk->max_transfer / BLOCK_BYTES, 1);
  }

 private:
  void scan_once() {
    if (scanned_) return;
    scanned_ = true;
    table_ = scan_disks(env_);
  }

  void tell(const std::string& line) {
    if (env_.tell_user) env_.tell_user(line);
  }

  void execute(SRB_ExecSCSICmd& srb) {
    if (srb.SRB_HaId >= table_.adapter_count) return set_adapter_outcome(srb, SS_INVALID_HA, HASTAT_OK);
    PtDisk* disk = srb.SRB_Lun == 0 ? find_disk(table_, srb.SRB_HaId, srb.SRB_Target) : nullptr;
    if (disk == nullptr) return set_adapter_outcome(srb, SS_NO_DEVICE, HASTAT_SEL_TO);
    const std::uint8_t opcode = srb.CDBByte[CDB_OPCODE];
    const std::uint8_t data_in = opcode == OP_WRITE_10 ? WIN_SCSI_IOCTL_DATA_OUT : WIN_SCSI_IOCTL_DATA_IN;
    if (!block_is_sound(srb, data_in)) return set_adapter_outcome(srb, SS_INVALID_SRB, HASTAT_OK);
    if (!known_command(opcode, srb.SRB_CDBLen)) return set_check_condition(srb, SENSE_INVALID_OPCODE);
    const bool sized = opcode == OP_READ_10 || opcode == OP_WRITE_10;
    if (sized && srb.SRB_BufLen < transfer_blocks(srb) * BLOCK_BYTES) {
      return set_check_condition(srb, SENSE_INVALID_FIELD_IN_CDB);
    }
    if (opcode == OP_WRITE_10) {
      if (settle_write_check(*disk) != WriteCheck::safe) return set_check_condition(srb, SENSE_WRITE_PROTECTED);
      disk->wrote = true;
    }
    if (sized) {
      transfer_blocks_in_pieces(srb, *disk, data_in);
    } else {
      PtCommand command{srb.CDBByte, srb.SRB_CDBLen, data_in, srb.SRB_BufPointer, srb.SRB_BufLen};
      store_outcome(srb, run_command(*disk, command), srb.SRB_BufLen, false);
    }
    if (srb.SRB_Status == SS_NO_DEVICE) disk->gone = true;
  }

  PtResult run_command(PtDisk& disk, const PtCommand& command) {
    PtResult result = execute_command(*env_.io, disk.handle, command, disk.alignment_mask, bounce_);
    if (unit_attention(result)) result = execute_command(*env_.io, disk.handle, command, disk.alignment_mask, bounce_);
    return result;
  }

  // READ(10) and WRITE(10) in commands no longer than the adapter takes.
  void transfer_blocks_in_pieces(SRB_ExecSCSICmd& srb, PtDisk& disk, std::uint8_t data_in) {
    const std::uint32_t most = std::max<std::uint32_t>(disk.max_transfer / BLOCK_BYTES, 1);
    const std::uint32_t first = cdb10_lba(srb.CDBByte);
    const std::uint32_t total = transfer_blocks(srb);
    std::uint32_t done = 0;
    do {
      const std::uint32_t count = std::min(total - done, most);
      std::uint8_t cdb[CDB10_SIZE];
      std::copy(srb.CDBByte, srb.CDBByte + CDB10_SIZE, cdb);
      put_cdb10_transfer(cdb, first + done, static_cast<std::uint16_t>(count));
      PtCommand command{cdb, CDB10_SIZE, data_in, srb.SRB_BufPointer + std::size_t{done} * BLOCK_BYTES,
                        count * BLOCK_BYTES};
      store_outcome(srb, run_command(disk, command), command.length, true);
      done += count;
    } while (srb.SRB_Status == SS_COMP && done < total);
  }

  // Settled once per disk: when the run claims it, else before its first
  // WRITE(10).
  WriteCheck settle_write_check(PtDisk& disk) {
    if (disk.write_check != WriteCheck::not_done) return disk.write_check;
    VolumeLocks locks = lock_volumes_on_disk(*env_.io, disk.disk_number, disk.path);
    disk.locked_volumes = std::move(locks.held);
    for (const std::string& line : locks.refusals) tell(line);
    disk.write_check = locks.refusals.empty() ? WriteCheck::safe : WriteCheck::refused;
    return disk.write_check;
  }

  // After the last write: the drive's cache to the medium, and Windows told
  // to read the partition table afresh.
  // A disk that went away is left alone: the run tells what that means.
  void flush(PtDisk& disk) {
    if (disk.gone) return;
    const std::uint8_t cdb[CDB10_SIZE] = {OP_SYNCHRONIZE_CACHE_10};
    PtCommand command{cdb, sizeof cdb, WIN_SCSI_IOCTL_DATA_UNSPECIFIED, nullptr, 0, FLUSH_TIMEOUT_S};
    const PtResult result = execute_command(*env_.io, disk.handle, command, disk.alignment_mask, bounce_);
    if (device_gone(result.os_error)) {
      disk.gone = true;
      return;
    }
    if (result.os_error != 0 || result.scsi_status != SCSI_STATUS_GOOD) {
      tell("tessaly: " + disk.path + " did not confirm that its cache reached the disk; keep the player " +
           "attached for a minute before unplugging it");
    }
    std::uint32_t returned = 0;
    env_.io->control(disk.handle, WIN_IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, returned);
  }

  PtEnvironment env_;
  PtDiskTable table_;
  AlignedBuffer bounce_;
  bool scanned_ = false;
};

}  // namespace

std::unique_ptr<PassThroughBackend> make_backend(PtEnvironment env) {
  return std::make_unique<Backend>(std::move(env));
}

PtEnvironment environment_from_settings(const char* listed_devices, const char* support_word) {
  PtEnvironment env;
  env.tell_user = [](const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
  };
  if (listed_devices == nullptr) return env;
  env.use_device_list = true;
  const std::string text = listed_devices;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    if (end > start) env.device_paths.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  // Not std::cerr: the standard streams would bring functions into the
  // Windows program that the oldest Windows it starts on do not export.
  std::ostringstream errors;
  env.support_forced = parse_support_override(support_word, env.forced_support, errors);
  std::fputs(errors.str().c_str(), stderr);
  return env;
}

}  // namespace pt

}  // namespace platform
