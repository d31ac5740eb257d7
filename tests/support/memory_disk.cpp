#include "support/memory_disk.h"

#include <cstring>
#include <memory>

#include "platform/aspi_backend.h"
#include "platform/common/scsi_commands.h"
#include "platform/console_hooks.h"
#include "platform/win32_api.h"
#include "platform/wnaspi32.h"
#include "scsi/drive_discovery.h"

namespace {

constexpr const char* PLAYER_MODEL = "TOSHIBA MK6015MAP       ";

class MemoryDiskBackend : public platform::AspiBackend {
 public:
  MemoryDisk disk;

  std::uint32_t support_info() override { return 0x0101; }

  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    srb.SRB_Status = execute(srb);
    // The posting routine releases the block: nothing touches it afterwards.
    reinterpret_cast<ASPI_POSTPROC>(srb.SRB_PostProc)(&srb);
    return SS_COMP;
  }

  void claim_target(int, int, const char*) override {
    ++disk.claims;
    disk.transfers_at_claim = disk.transfers.size();
  }

  void flush_writes() override {
    ++disk.flushes;
    disk.transfers_at_flush = disk.transfers.size();
  }

 private:
  std::uint8_t execute(SRB_ExecSCSICmd& srb) {
    if (srb.SRB_HaId != 0) return SS_INVALID_HA;
    if (srb.SRB_Target != 0) return SS_NO_DEVICE;
    switch (srb.CDBByte[platform::CDB_OPCODE]) {
      case platform::OP_INQUIRY: return inquiry(srb);
      case platform::OP_READ_CAPACITY_10: return read_capacity(srb);
      case platform::OP_READ_10: return transfer(srb, false);
      case platform::OP_WRITE_10: return transfer(srb, true);
      default: return SS_ERR;
    }
  }

  std::uint8_t inquiry(SRB_ExecSCSICmd& srb) {
    std::uint8_t answer[36] = {0x00, 0x00, 0x02, 0x02, 31};
    std::memcpy(answer + platform::INQ_MODEL, PLAYER_MODEL, 24);
    std::memcpy(srb.SRB_BufPointer, answer, std::min<std::size_t>(sizeof answer, srb.SRB_BufLen));
    return SS_COMP;
  }

  std::uint8_t read_capacity(SRB_ExecSCSICmd& srb) {
    if (disk.fail_capacity || disk.capacity == 0) return SS_ERR;
    std::uint8_t answer[platform::CAPACITY_DATA_SIZE];
    platform::put_be32(answer + platform::CAPACITY_LAST_LBA, disk.capacity - 1);
    platform::put_be32(answer + platform::CAPACITY_BLOCK_LENGTH, 512);
    std::memcpy(srb.SRB_BufPointer, answer, sizeof answer);
    return SS_COMP;
  }

  std::uint8_t transfer(SRB_ExecSCSICmd& srb, bool write) {
    const std::uint32_t first = platform::cdb10_lba(srb.CDBByte);
    const std::uint32_t count = platform::cdb10_blocks(srb.CDBByte);
    if (srb.SRB_BufLen < count * 512 || static_cast<std::uint64_t>(first) + count > disk.capacity) return SS_ERR;
    for (std::uint32_t i = 0; i < count; ++i) {
      disk.transfers.push_back({write, first + i});
      write ? ++disk.writes : ++disk.reads;
      const std::set<std::uint32_t>& bad = write ? disk.bad_writes : disk.bad_reads;
      if (bad.count(first + i)) return SS_ERR;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint8_t* buffer = srb.SRB_BufPointer + i * 512;
      if (write) {
        std::memcpy(disk.at(first + i).data(), buffer, 512);
      } else {
        const DiskSector sector = disk.get(first + i);
        std::memcpy(buffer, sector.data(), 512);
      }
    }
    return SS_COMP;
  }
};

ScriptedBoxes* scripted_boxes = nullptr;

}  // namespace

DiskSector MemoryDisk::get(std::uint32_t n) const {
  auto it = sectors.find(n);
  return it == sectors.end() ? DiskSector{} : it->second;
}

int MemoryDisk::writes_between(std::uint32_t first, std::uint32_t last) const {
  int count = 0;
  for (const Transfer& t : transfers) count += t.write && t.sector >= first && t.sector <= last;
  return count;
}

MemoryDisk& install_memory_disk(std::uint32_t capacity) {
  auto backend = std::make_unique<MemoryDiskBackend>();
  MemoryDisk& disk = backend->disk;
  disk.capacity = capacity;
  platform::install_aspi_backend(std::move(backend));
  target_drive.host_adapter = 0;
  target_drive.target_id = 0;
  target_drive.capacity_sectors = capacity;
  return disk;
}

std::unique_ptr<platform::AspiBackend> sample_disk_backend(std::uint32_t capacity, MemoryDisk*& disk) {
  auto backend = std::make_unique<MemoryDiskBackend>();
  disk = &backend->disk;
  disk->capacity = capacity;
  mkdisk::DiskOptions options;
  options.capacity = capacity;
  load_sample_disk(*disk, mkdisk::build_sample_disk(options));
  return backend;
}

void load_sample_disk(MemoryDisk& disk, const mkdisk::SampleDisk& sample) {
  for (const auto& [n, sector] : sample.sectors) {
    if (n < disk.capacity) std::memcpy(disk.at(static_cast<std::uint32_t>(n)).data(), sector.data(), 512);
  }
}

MemoryDisk& install_sample_disk(std::uint32_t capacity, const std::vector<std::string>& damages, bool removable) {
  mkdisk::DiskOptions options;
  options.capacity = capacity;
  options.removable = removable;
  mkdisk::SampleDisk sample = mkdisk::build_sample_disk(options);
  for (const std::string& name : damages) mkdisk::apply_damage(sample, name);
  MemoryDisk& disk = install_memory_disk(capacity);
  load_sample_disk(disk, sample);
  return disk;
}

void fill_sector(MemoryDisk& disk, std::uint32_t n, std::uint8_t value) { disk.at(n).fill(value); }

ScriptedBoxes& script_message_boxes(std::vector<int> answers) {
  static ScriptedBoxes boxes;
  boxes = ScriptedBoxes{};
  boxes.answers.assign(answers.begin(), answers.end());
  scripted_boxes = &boxes;
  platform::set_message_box_handler([](const char* text, const char* caption, unsigned style) {
    scripted_boxes->shown.push_back({text, caption, style});
    if ((style & 0xF) != MB_OKCANCEL) return IDOK;
    if (scripted_boxes->answers.empty()) return IDCANCEL;
    const int answer = scripted_boxes->answers.front();
    scripted_boxes->answers.pop_front();
    return answer;
  });
  return boxes;
}

void stop_scripting_message_boxes() {
  platform::set_message_box_handler({});
  scripted_boxes = nullptr;
}
