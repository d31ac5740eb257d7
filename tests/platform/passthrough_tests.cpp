// The pass-through backend over a scripted Windows: how disks become
// adapters and targets, the request block and its aligned buffer, splitting
// long transfers, the outcome mapping, locking the volumes of a disk before
// it is read, and finding the disk behind another ASPI layer.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/passthrough/passthrough_backend.h"
#include "platform/passthrough/passthrough_disks.h"
#include "platform/passthrough/passthrough_guard.h"
#include "platform/passthrough/passthrough_outcome.h"

// The volume tables name only the fields that differ from the default
// (designated initializers); GCC 12 warns about every field left out.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace platform::pt;

struct FakeDisk {
  std::uint32_t open_error = 0;
  bool addressed = true;
  ScsiAddress address{8, 0, 0, 0, 0};
  bool described = false;
  StorageAdapterDescriptor adapter{};
  std::string model;  // INQUIRY bytes 8-31, when set
};

// A volume and how it answers: opening it (for asking and for locking), its
// extents (`spread` more disks before this one: more than eight make the
// first answer ERROR_MORE_DATA), its device number, and the lock.
struct FakeVolume {
  std::string path;
  std::uint32_t disk;
  std::uint32_t lock_error = 0;
  std::string shown;  // as Windows names it; the letter of the path when empty
  std::uint32_t open_error = 0;
  std::uint32_t extents_error = 0;
  std::uint32_t spread = 0;
  bool numbered = false;  // answers IOCTL_STORAGE_GET_DEVICE_NUMBER
};

struct Sent {
  std::string path;
  std::vector<std::uint8_t> cdb;
  std::uint8_t data_in;
  std::uint32_t length;
  void* buffer;
  std::uint32_t timeout;
};

class ScriptedWindows final : public Win32Io {
 public:
  std::map<std::string, FakeDisk> disks;
  std::vector<FakeVolume> volume_list;
  std::vector<std::string> opened, closed, log;
  std::vector<Sent> sent;
  // The next pass-through outcomes.
  std::uint32_t call_error = 0;
  std::uint8_t scsi_status = 0;
  std::vector<std::uint8_t> sense;
  std::uint32_t short_by = 0;
  std::uint8_t fill = 0;
  int unit_attentions = 0;  // commands answered UNIT ATTENTION before the outcome above
  bool nt = true;

  Handle open(const std::string& path, bool, std::uint32_t& error) override {
    opened.push_back(path);
    error = WIN_ERROR_FILE_NOT_FOUND;
    if (auto it = disks.find(path); it != disks.end()) error = it->second.open_error;
    for (const FakeVolume& volume : volume_list) error = volume.path == path ? volume.open_error : error;
    if (error != 0) return nullptr;
    handles_.push_back(path);
    return reinterpret_cast<Handle>(handles_.size());
  }
  std::uint32_t control(Handle handle, std::uint32_t code, void* in, std::uint32_t, void* out, std::uint32_t out_size,
                        std::uint32_t& returned) override {
    const std::string& path = path_of(handle);
    returned = 0;
    const FakeVolume* volume = nullptr;
    for (const FakeVolume& v : volume_list) volume = v.path == path ? &v : volume;
    switch (code) {
      case WIN_IOCTL_SCSI_GET_ADDRESS:
        if (!disks.at(path).addressed) return WIN_ERROR_INVALID_FUNCTION;
        *static_cast<ScsiAddress*>(out) = disks.at(path).address;
        returned = sizeof(ScsiAddress);
        return 0;
      case WIN_IOCTL_STORAGE_GET_DEVICE_NUMBER:
        if (volume == nullptr || !volume->numbered) return WIN_ERROR_INVALID_FUNCTION;  // disks: from the name
        *static_cast<StorageDeviceNumber*>(out) = {WIN_FILE_DEVICE_DISK, volume->disk, 1};
        returned = sizeof(StorageDeviceNumber);
        return 0;
      case WIN_IOCTL_STORAGE_QUERY_PROPERTY:
        if (!disks.at(path).described) return WIN_ERROR_INVALID_FUNCTION;
        EXPECT_EQ(static_cast<StoragePropertyQuery*>(in)->PropertyId, STORAGE_ADAPTER_PROPERTY);
        *static_cast<StorageAdapterDescriptor*>(out) = disks.at(path).adapter;
        returned = sizeof(StorageAdapterDescriptor);
        return 0;
      case WIN_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        return extents(*volume, out, out_size, returned);
      case WIN_FSCTL_LOCK_VOLUME:
        log.push_back("lock " + path);
        return volume->lock_error;
      case WIN_FSCTL_DISMOUNT_VOLUME:
        log.push_back("dismount " + path);
        return 0;
      case WIN_IOCTL_DISK_UPDATE_PROPERTIES:
        log.push_back("update " + path);
        return 0;
      case WIN_IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return pass_through(path, *static_cast<ScsiPassThroughDirectWithSense*>(in));
    }
    ADD_FAILURE() << "unexpected control code " << code;
    return WIN_ERROR_INVALID_FUNCTION;
  }
  void close(Handle handle) override { closed.push_back(path_of(handle)); }
  std::vector<VolumeName> volumes() override {
    std::vector<VolumeName> names;
    for (const FakeVolume& volume : volume_list) {
      names.push_back({volume.path, volume.shown.empty() ? volume.path.substr(4) : volume.shown});
    }
    return names;
  }
  bool nt_family() override { return nt; }

 private:
  const std::string& path_of(Handle handle) const {
    return handles_.at(reinterpret_cast<std::uintptr_t>(handle) - 1);
  }
  std::uint32_t extents(const FakeVolume& volume, void* out, std::uint32_t out_size, std::uint32_t& returned) {
    if (volume.extents_error != 0) return volume.extents_error;
    const std::uint32_t count = volume.spread + 1;
    const std::size_t needed = offsetof(VolumeDiskExtents, Extents) + count * sizeof(DiskExtent);
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::memcpy(bytes, &count, sizeof count);
    if (out_size < needed) {
      returned = sizeof(VolumeDiskExtents);
      return WIN_ERROR_MORE_DATA;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      DiskExtent extent{i < volume.spread ? 100 + i : volume.disk, 0, 1};
      std::memcpy(bytes + offsetof(VolumeDiskExtents, Extents) + i * sizeof extent, &extent, sizeof extent);
    }
    returned = static_cast<std::uint32_t>(needed);
    return 0;
  }
  std::uint32_t pass_through(const std::string& path, ScsiPassThroughDirectWithSense& block) {
    ScsiPassThroughDirect& sptd = block.sptd;
    EXPECT_EQ(sptd.Length, sizeof sptd);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(&block) + sptd.SenseInfoOffset, block.sense);
    sent.push_back({path, {sptd.Cdb, sptd.Cdb + sptd.CdbLength}, sptd.DataIn, sptd.DataTransferLength,
                    sptd.DataBuffer, sptd.TimeOutValue});
    log.push_back("command " + path);
    if (call_error != 0) return call_error;
    if (unit_attentions > 0) {
      --unit_attentions;
      sptd.ScsiStatus = 2;
      const std::uint8_t reset[] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00};
      std::memcpy(block.sense, reset, sizeof reset);
      sptd.SenseInfoLength = sizeof reset;
      return 0;
    }
    if (sptd.DataIn == WIN_SCSI_IOCTL_DATA_IN) std::memset(sptd.DataBuffer, fill, sptd.DataTransferLength);
    const std::string& model = disks.count(path) ? disks.at(path).model : "";
    if (sptd.Cdb[0] == 0x12 && !model.empty()) std::memcpy(static_cast<std::uint8_t*>(sptd.DataBuffer) + 8, model.data(), 24);
    sptd.ScsiStatus = scsi_status;
    if (!sense.empty()) std::memcpy(block.sense, sense.data(), sense.size());
    sptd.SenseInfoLength = static_cast<std::uint8_t>(sense.size());
    sptd.DataTransferLength -= short_by;
    return 0;
  }
  std::vector<std::string> handles_;
};

std::string drive(int n) { return "\\\\.\\PhysicalDrive" + std::to_string(n); }

int posts = 0;
void count_post(SRB_ExecSCSICmd*) { ++posts; }

SRB_ExecSCSICmd request(int ha, int target, std::vector<std::uint8_t> cdb, std::uint8_t* data,
                        std::uint32_t length) {
  SRB_ExecSCSICmd srb{};
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = static_cast<std::uint8_t>(ha);
  srb.SRB_Target = static_cast<std::uint8_t>(target);
  srb.SRB_Flags = SRB_POSTING | (cdb[0] == 0x2A ? SRB_DIR_OUT : SRB_DIR_IN);
  srb.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), srb.CDBByte);
  srb.SRB_BufPointer = data;
  srb.SRB_BufLen = length;
  srb.SRB_SenseLen = SENSE_LEN;
  srb.SRB_PostProc = reinterpret_cast<void*>(&count_post);
  return srb;
}

std::vector<std::uint8_t> rw10(std::uint8_t op, std::uint32_t lba, std::uint16_t count) {
  return {op, 0, std::uint8_t(lba >> 24), std::uint8_t(lba >> 16), std::uint8_t(lba >> 8), std::uint8_t(lba), 0,
          std::uint8_t(count >> 8), std::uint8_t(count), 0};
}

class PassThrough : public ::testing::Test {
 protected:
  std::shared_ptr<ScriptedWindows> windows = std::make_shared<ScriptedWindows>();
  std::vector<std::string> told;

  std::unique_ptr<platform::PassThroughBackend> backend() {
    PtEnvironment env;
    env.io = windows;
    env.tell_user = [this](const std::string& line) { told.push_back(line); };
    return make_backend(std::move(env));
  }
  void add_disk(int n, int port, int path, int target, int lun = 0) {
    FakeDisk& disk = windows->disks[drive(n)];
    disk.address = {8, std::uint8_t(port), std::uint8_t(path), std::uint8_t(target), std::uint8_t(lun)};
  }
};

TEST_F(PassThrough, DisksBecomeAdaptersByPortAndPathInSortedOrder) {
  add_disk(0, 2, 0, 0);                                              // adapter 1, target 0
  windows->disks[drive(1)].open_error = WIN_ERROR_ACCESS_DENIED;         // named, left out
  add_disk(2, 1, 0, 3);                                              // adapter 0, target 3
  windows->disks[drive(3)].addressed = false;                        // adapter 2 of its own
  add_disk(4, 2, 0, 1, 1);                                           // LUN 1: not served
  add_disk(5, 2, 1, 9);                                              // target 9: not served
  auto aspi = backend();
  EXPECT_EQ(aspi->support_info(), (std::uint32_t{SS_COMP} << 8) | 3);
  // The search ends after a run of numbers that do not exist.
  EXPECT_EQ(windows->opened.back(), drive(5 + PHYSICAL_DRIVE_MISS_RUN));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "tessaly: \\\\.\\PhysicalDrive1 cannot be opened for reading and writing (access denied): "
                     "run tessaly from an elevated command prompt (Run as administrator)");
  const std::pair<int, int> places[] = {{1, 0}, {0, 3}, {2, 0}};
  const int drives[] = {0, 2, 3};
  for (int i = 0; i < 3; ++i) {
    std::uint8_t data[36];
    auto srb = request(places[i].first, places[i].second, {0x12, 0, 0, 0, 36, 0}, data, sizeof data);
    EXPECT_EQ(aspi->send(srb), SS_COMP);
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(windows->sent.back().path, drive(drives[i]));
  }
  std::uint8_t data[36];
  auto lun1 = request(0, 1, {0x12, 0, 0, 0, 36, 0}, data, sizeof data);
  aspi->send(lun1);
  EXPECT_EQ(lun1.SRB_Status, SS_NO_DEVICE);
  auto beyond = request(3, 0, {0x12, 0, 0, 0, 36, 0}, data, sizeof data);
  aspi->send(beyond);
  EXPECT_EQ(beyond.SRB_Status, SS_INVALID_HA);
}

TEST_F(PassThrough, NoDiskMeansNoAspiAndOnlyRefusedDisksMeanNoAdapters) {
  EXPECT_EQ(backend()->support_info(), std::uint32_t{SS_COMP} << 8);
  windows->disks[drive(0)].open_error = WIN_ERROR_ACCESS_DENIED;
  EXPECT_EQ(backend()->support_info(), std::uint32_t{SS_NO_ADAPTERS} << 8);
}

TEST_F(PassThrough, TheBlockCarriesTheCommandAndAnAlignedBuffer) {
  add_disk(0, 0, 0, 0);
  FakeDisk& disk = windows->disks[drive(0)];
  disk.described = true;
  disk.adapter.AlignmentMask = 0x1FF;
  disk.adapter.MaximumTransferLength = 0x10000;
  disk.adapter.MaximumPhysicalPages = 0x100;
  auto aspi = backend();
  EXPECT_EQ(aspi->max_transfer_sectors(0, 0), 128u);
  EXPECT_EQ(aspi->max_transfer_sectors(0, 1), 0u);
  alignas(512) std::uint8_t data[1024 + 512];
  windows->fill = 0x5A;
  auto aligned = request(0, 0, rw10(0x28, 7, 1), data, 512);
  aspi->send(aligned);
  EXPECT_EQ(windows->sent.back().buffer, data);
  EXPECT_EQ(windows->sent.back().data_in, WIN_SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(windows->sent.back().timeout, 20u);
  // A buffer off the adapter's alignment travels through an aligned copy,
  // both ways.
  auto read = request(0, 0, rw10(0x28, 7, 1), data + 2, 512);
  aspi->send(read);
  EXPECT_NE(windows->sent.back().buffer, data + 2);
  EXPECT_TRUE(is_aligned(windows->sent.back().buffer, 0x1FF));
  EXPECT_EQ(data[2], 0x5A);
  EXPECT_EQ(data[513], 0x5A);
  std::memset(data + 4, 0xC3, 512);
  auto write = request(0, 0, rw10(0x2A, 9, 1), data + 4, 512);
  aspi->send(write);
  EXPECT_EQ(write.SRB_Status, SS_COMP);
  EXPECT_EQ(windows->sent.back().data_in, WIN_SCSI_IOCTL_DATA_OUT);
  EXPECT_EQ(static_cast<std::uint8_t*>(windows->sent.back().buffer)[511], 0xC3);

  // A mask that is no power of two less one is not trusted: a page it is.
  add_disk(1, 1, 0, 0);
  windows->disks[drive(1)].described = true;
  windows->disks[drive(1)].adapter.AlignmentMask = 0x1FE;
  auto other = backend();
  auto odd = request(1, 0, rw10(0x28, 7, 1), data + 1, 512);
  other->send(odd);
  EXPECT_EQ(odd.SRB_Status, SS_COMP);
  EXPECT_TRUE(is_aligned(windows->sent.back().buffer, 0xFFF));
}

TEST_F(PassThrough, LongTransfersAreSplitToTheAdaptersMaximum) {
  add_disk(0, 0, 0, 0);
  windows->disks[drive(0)].described = true;
  windows->disks[drive(0)].adapter.MaximumTransferLength = 0x20000;
  windows->disks[drive(0)].adapter.MaximumPhysicalPages = 17;  // 16 pages: 64 KiB
  auto aspi = backend();
  std::vector<std::uint8_t> data(300 * 512);
  auto srb = request(0, 0, rw10(0x28, 1000, 300), data.data(), static_cast<std::uint32_t>(data.size()));
  aspi->send(srb);
  EXPECT_EQ(srb.SRB_Status, SS_COMP);
  ASSERT_EQ(windows->sent.size(), 3u);
  EXPECT_EQ(windows->sent[0].cdb, rw10(0x28, 1000, 128));
  EXPECT_EQ(windows->sent[1].cdb, rw10(0x28, 1128, 128));
  EXPECT_EQ(windows->sent[2].cdb, rw10(0x28, 1256, 44));
  EXPECT_EQ(windows->sent[2].buffer, data.data() + 256 * 512);
}

TEST_F(PassThrough, OutcomesMapToAspiStatus) {
  struct Case {
    const char* what;
    std::uint32_t call_error;
    std::uint8_t scsi_status;
    std::uint32_t short_by;
    std::uint8_t command;
    std::uint8_t srb_status, ha_status, targ_status, sense_key;
  } cases[] = {
      {"good read", 0, 0, 0, 0x28, SS_COMP, 0, 0, 0},
      {"short read", 0, 0, 512, 0x28, SS_ERR, 0x12, 0, 0},
      {"short INQUIRY is fine", 0, 0, 6, 0x12, SS_COMP, 0, 0, 0},
      {"medium error", 0, 2, 0, 0x28, SS_ERR, 0, 2, 0x03},
      {"busy", 0, 8, 0, 0x28, SS_ERR, 0, 8, 0},
      {"timeout", WIN_ERROR_SEM_TIMEOUT, 0, 0, 0x28, SS_ERR, HASTAT_COMMAND_TIMEOUT, 0, 0},
      {"unplugged", WIN_ERROR_DEVICE_NOT_CONNECTED, 0, 0, 0x28, SS_NO_DEVICE, 0, 0, 0},
      {"removed", WIN_ERROR_DEVICE_REMOVED, 0, 0, 0x2A, SS_NO_DEVICE, 0, 0, 0},
      {"no longer there", WIN_ERROR_DEV_NOT_EXIST, 0, 0, 0x2A, SS_NO_DEVICE, 0, 0, 0},
      {"no such device", WIN_ERROR_NO_SUCH_DEVICE, 0, 0, 0x28, SS_NO_DEVICE, 0, 0, 0},
      {"write into a mounted volume", WIN_ERROR_ACCESS_DENIED, 0, 0, 0x2A, SS_ERR, 0, 2, 0x07},
      {"read refused: no write protection", WIN_ERROR_ACCESS_DENIED, 0, 0, 0x28, SS_ERR, 0, 0, 0},
      {"other failure", WIN_ERROR_IO_DEVICE, 0, 0, 0x28, SS_ERR, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PtResult result;
    result.os_error = c.call_error;
    result.scsi_status = c.scsi_status;
    result.sense_length = c.scsi_status == 2 ? 18 : 0;
    result.sense[0] = 0x70;
    result.sense[2] = 0x03;
    result.transferred = 1024 - c.short_by;
    SRB_ExecSCSICmd srb = request(0, 0, rw10(c.command, 0, 2), nullptr, 1024);
    store_outcome(srb, result, 1024, c.command != 0x12);
    EXPECT_EQ(srb.SRB_Status, c.srb_status);
    EXPECT_EQ(srb.SRB_HaStat, c.ha_status);
    EXPECT_EQ(srb.SRB_TargStat, c.targ_status);
    EXPECT_EQ(srb.SenseArea[2], c.sense_key);
  }
  // Through the backend: the device's own sense bytes reach the block.
  add_disk(0, 0, 0, 0);
  auto aspi = backend();
  windows->scsi_status = 2;
  windows->sense = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00};
  std::uint8_t data[512];
  auto srb = request(0, 0, rw10(0x28, 5, 1), data, 512);
  aspi->send(srb);
  EXPECT_EQ(srb.SRB_Status, SS_ERR);
  EXPECT_EQ(srb.SenseArea[12], 0x11);
  EXPECT_EQ(posts > 0, true);
}

TEST_F(PassThrough, OnlyTheUtilitysCommandsReachADevice) {
  add_disk(0, 0, 0, 0);
  auto aspi = backend();
  auto sync = request(0, 0, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, nullptr, 0);
  aspi->send(sync);
  EXPECT_EQ(sync.SRB_Status, SS_ERR);
  EXPECT_EQ(sync.SenseArea[2], 0x05);
  std::uint8_t data[512];
  auto backwards = request(0, 0, rw10(0x2A, 0, 1), data, 512);
  backwards.SRB_Flags = SRB_DIR_IN;
  aspi->send(backwards);
  EXPECT_EQ(backwards.SRB_Status, SS_INVALID_SRB);
  auto reset = request(0, 0, {0x12, 0, 0, 0, 36, 0}, data, 36);
  reset.SRB_Cmd = SC_RESET_DEV;
  EXPECT_EQ(aspi->send(reset), SS_INVALID_CMD);
  EXPECT_TRUE(windows->sent.empty());
}

// Each volume as Windows may answer for it, on a machine whose disk 1 is
// the player's: whether the player's disk may then be written, what is
// locked, and the line the user gets. What cannot be told counts as lying
// on the player's disk.
TEST_F(PassThrough, EveryVolumeThatMayLieOnTheDiskIsLockedOrTheDiskIsNotWritten) {
  const std::string in_use_f = "tessaly: drive F: on \\\\.\\PhysicalDrive1 is in use and cannot be locked: close "
                               "every program and Explorer window using F:, then run tessaly again; nothing is "
                               "written to this disk";
  const std::string unasked_g = "tessaly: drive G: cannot be asked whether it lies on \\\\.\\PhysicalDrive1 nor be "
                                "locked (Windows error 5), so it counts as lying there: close every program using "
                                "G:, or remove its medium, then run tessaly again; nothing is written to this disk";
  const std::string folder = "tessaly: the volume mounted at C:\\Player\\ on \\\\.\\PhysicalDrive1 is in use and "
                             "cannot be locked: close every program and Explorer window using C:\\Player\\, then "
                             "run tessaly again; nothing is written to this disk";
  const std::string e = "\\\\.\\E:", f = "\\\\.\\F:", g = "\\\\.\\G:", c = "\\\\.\\C:";
  const std::string guid = "\\\\?\\Volume{5eed}";
  const struct Case {
    const char* what;
    FakeVolume volume;
    bool writable;
    std::vector<std::string> log;  // before the write
    std::string told;
  } cases[] = {
      {"on the disk", {.path = e, .disk = 1}, true, {"lock " + e, "dismount " + e}, ""},
      {"on the disk, in use", {.path = f, .disk = 1, .lock_error = WIN_ERROR_ACCESS_DENIED}, false, {"lock " + f},
       in_use_f},
      {"on another disk, in use", {.path = c, .disk = 0, .lock_error = WIN_ERROR_ACCESS_DENIED}, true, {}, ""},
      {"spread over ten disks, this one last", {.path = e, .disk = 1, .spread = 9}, true,
       {"lock " + e, "dismount " + e}, ""},
      {"spread over ten disks elsewhere", {.path = e, .disk = 0, .spread = 9}, true, {}, ""},
      {"no extents, numbered elsewhere", {.path = e, .disk = 0, .extents_error = 1, .numbered = true}, true, {}, ""},
      {"no extents, numbered on the disk", {.path = e, .disk = 1, .extents_error = 1, .numbered = true}, true,
       {"lock " + e, "dismount " + e}, ""},
      {"neither told, locked all the same", {.path = e, .disk = 0, .extents_error = 1}, true,
       {"lock " + e, "dismount " + e}, ""},
      {"cannot be opened", {.path = g, .disk = 0, .open_error = WIN_ERROR_ACCESS_DENIED}, false, {}, unasked_g},
      {"neither told, no medium", {.path = g, .disk = 0, .lock_error = WIN_ERROR_NOT_READY, .extents_error = 1},
       true, {"lock " + g}, ""},
      {"mounted in a folder, in use",
       {.path = guid, .disk = 1, .lock_error = WIN_ERROR_SHARING_VIOLATION, .shown = "C:\\Player\\"}, false,
       {"lock " + guid}, folder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    windows = std::make_shared<ScriptedWindows>();
    told.clear();
    add_disk(0, 0, 0, 0);
    add_disk(1, 1, 0, 0);
    windows->volume_list = {c.volume};
    auto aspi = backend();
    aspi->claim_target(1, 0, "");
    EXPECT_EQ(windows->log, c.log);
    EXPECT_EQ(told, c.told.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.told});
    std::uint8_t data[512] = {};
    for (int i = 0; i < 2; ++i) {
      auto write = request(1, 0, rw10(0x2A, 63, 1), data, 512);
      aspi->send(write);
      EXPECT_EQ(write.SRB_Status, c.writable ? SS_COMP : SS_ERR);
      if (!c.writable) {
        EXPECT_EQ(write.SenseArea[2], 0x07);  // DATA PROTECT
      }
    }
    EXPECT_EQ(windows->sent.size(), c.writable ? 2u : 0u);
    EXPECT_EQ(told.size(), c.told.empty() ? 0u : 1u) << "told once";
  }
}

// A run as the program makes it: the disk claimed, read, written and
// flushed; the locks come before the first read and stay until the end.
TEST_F(PassThrough, VolumesAreLockedBeforeTheFirstReadAndHeldUntilTheEnd) {
  add_disk(0, 0, 0, 0);
  add_disk(1, 1, 0, 0);
  windows->volume_list = {{.path = "\\\\.\\C:", .disk = 0}, {.path = "\\\\.\\E:", .disk = 1}};
  {
    auto aspi = backend();
    aspi->claim_target(1, 0, "TOSHIBA MK6015MAP       ");
    // E: was opened twice: to ask where it lies (closed again) and to lock it.
    const auto asked = std::count(windows->closed.begin(), windows->closed.end(), "\\\\.\\E:");
    EXPECT_EQ(asked, 1);
    std::uint8_t data[512] = {};
    auto read = request(1, 0, rw10(0x28, 0, 1), data, 512);
    aspi->send(read);
    for (int i = 0; i < 2; ++i) {
      auto write = request(1, 0, rw10(0x2A, 63, 1), data, 512);
      aspi->send(write);
      EXPECT_EQ(write.SRB_Status, SS_COMP);
    }
    aspi->flush_writes();
    EXPECT_EQ(windows->sent.back().cdb[0], 0x35);  // SYNCHRONIZE CACHE(10), after the last write
    EXPECT_EQ(windows->sent.back().timeout, FLUSH_TIMEOUT_S);
    auto other = request(0, 0, rw10(0x28, 0, 1), data, 512);
    aspi->send(other);
    EXPECT_EQ(std::count(windows->closed.begin(), windows->closed.end(), "\\\\.\\E:"), asked);
  }
  const std::vector<std::string> log = {
      "lock \\\\.\\E:",     "dismount \\\\.\\E:",  "command " + drive(1), "command " + drive(1),
      "command " + drive(1), "command " + drive(1), "update " + drive(1), "command " + drive(0)};
  EXPECT_EQ(windows->log, log);  // nothing more to flush at the end
  EXPECT_EQ(std::count(windows->closed.begin(), windows->closed.end(), "\\\\.\\E:"), 2);
  EXPECT_TRUE(told.empty());
}

TEST_F(PassThrough, AWriteWithoutAClaimLocksFirst) {
  add_disk(0, 0, 0, 0);
  windows->volume_list = {{.path = "\\\\.\\E:", .disk = 0}};
  auto aspi = backend();
  std::uint8_t data[512] = {};
  auto write = request(0, 0, rw10(0x2A, 63, 1), data, 512);
  aspi->send(write);
  EXPECT_EQ(write.SRB_Status, SS_COMP);
  const std::vector<std::string> log = {"lock \\\\.\\E:", "dismount \\\\.\\E:", "command " + drive(0)};
  EXPECT_EQ(windows->log, log);
}

TEST_F(PassThrough, OneUnitAttentionIsAnsweredByAskingAgain) {
  add_disk(0, 0, 0, 0);
  auto aspi = backend();
  std::uint8_t data[512] = {};
  windows->unit_attentions = 1;  // the first command after a USB reset
  auto read = request(0, 0, rw10(0x28, 7, 1), data, 512);
  aspi->send(read);
  EXPECT_EQ(read.SRB_Status, SS_COMP);
  EXPECT_EQ(windows->sent.size(), 2u);
  windows->unit_attentions = 2;
  auto again = request(0, 0, rw10(0x28, 7, 1), data, 512);
  aspi->send(again);
  EXPECT_EQ(again.SRB_Status, SS_ERR);
  EXPECT_EQ(again.SenseArea[2], 0x06);
  EXPECT_EQ(windows->sent.size(), 4u);
}

// A WNASPI32.DLL numbers its adapters its own way: its disk is found by
// target id and model, and only on Windows NT with disks to open.
TEST_F(PassThrough, TheDiskBehindAnotherLayerIsFoundByTargetAndModel) {
  const std::string player = "TOSHIBA MK6015MAP       ";
  add_disk(0, 0, 0, 0);
  windows->disks[drive(0)].model = "WDC WD800BB-00CAA1      ";
  add_disk(1, 2, 0, 1);
  windows->disks[drive(1)].model = player;  // another target
  add_disk(2, 2, 0, 0);
  windows->disks[drive(2)].model = player;
  windows->volume_list = {{.path = "\\\\.\\C:", .disk = 0}, {.path = "\\\\.\\E:", .disk = 1},
                          {.path = "\\\\.\\F:", .disk = 2}};
  PtEnvironment env;
  env.io = windows;
  env.tell_user = [this](const std::string& line) { told.push_back(line); };
  LayerDiskGuard guard = guard_disk_behind_layer(env, 0, player.c_str());
  EXPECT_TRUE(guard.writable);
  EXPECT_EQ(guard.held.size(), 1u);
  EXPECT_EQ(std::count(windows->log.begin(), windows->log.end(), "lock \\\\.\\F:"), 1);
  EXPECT_EQ(std::count(windows->log.begin(), windows->log.end(), "lock \\\\.\\E:"), 0);
  release_guard(*windows, guard);
  EXPECT_EQ(windows->closed.back(), "\\\\.\\F:");

  LayerDiskGuard unknown = guard_disk_behind_layer(env, 3, player.c_str());
  EXPECT_FALSE(unknown.writable);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("'TOSHIBA MK6015MAP       ' at target 3 of the ASPI layer is none of the disks"),
            std::string::npos);

  windows->nt = false;  // Windows 98 SE: nothing to lock, nothing opened
  const std::size_t opened = windows->opened.size();
  EXPECT_TRUE(guard_disk_behind_layer(env, 3, player.c_str()).writable);
  EXPECT_EQ(windows->opened.size(), opened);
}

TEST(PassThroughSettings, TheTestListReplacesThePhysicalDrives) {
  EXPECT_FALSE(environment_from_settings(nullptr, "0x0100").use_device_list);
  EXPECT_FALSE(environment_from_settings(nullptr, "0x0100").support_forced);
  const PtEnvironment env = environment_from_settings("Z:\\a.img;;Z:\\b.img;", "0xE800");
  EXPECT_TRUE(env.use_device_list);
  EXPECT_EQ(env.device_paths, (std::vector<std::string>{"Z:\\a.img", "Z:\\b.img"}));
  EXPECT_EQ(env.forced_support, 0xE800u);
}

}  // namespace
