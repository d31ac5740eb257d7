#include "platform/image/image_backend.h"

#include <cstdio>
#include <vector>

#include "platform/image/async_poster.h"
#include "platform/image/image_disk.h"
#include "platform/image/image_scsi.h"
#include "platform/common/srb_outcome.h"

namespace platform {
namespace {

using DiskList = std::vector<std::unique_ptr<ImageDisk>>;

class ImageBackend final : public AspiBackend {
 public:
  explicit ImageBackend(DiskList disks);
  ~ImageBackend() override;

  std::uint32_t support_info() override;
  std::uint32_t send(SRB_ExecSCSICmd& srb) override;
  // An image file takes any length a READ(10) can ask for.
  std::uint32_t max_transfer_sectors(int host_adapter, int target_id) override {
    return find(host_adapter, target_id) != nullptr ? UINT16_MAX : 0;
  }

 private:
  ImageDisk* find(int host_adapter, int target_id) const;
  static void complete(ImageDisk& disk, SRB_ExecSCSICmd& srb);

  DiskList disks_;
  int adapter_count_ = 0;
  // Declared last, so destroyed first: queued requests still find their disk.
  std::unique_ptr<AsyncPoster> poster_;
};

bool any_async(const DiskList& disks) {
  for (const auto& disk : disks) {
    if (disk->config().async) return true;
  }
  return false;
}

ImageBackend::ImageBackend(DiskList disks) : disks_(std::move(disks)) {
  for (const auto& disk : disks_) {
    if (disk->config().host_adapter >= adapter_count_) adapter_count_ = disk->config().host_adapter + 1;
  }
  if (any_async(disks_)) poster_ = std::make_unique<AsyncPoster>(std::chrono::microseconds(IMAGE_ASYNC_DELAY_US));
}

// The backend lives until the process exits (or a test replaces it): then
// every disk that was written is flushed to the device, after the last
// queued request has completed.
ImageBackend::~ImageBackend() {
  poster_.reset();
  for (const auto& disk : disks_) {
    if (!disk->written()) continue;
    const std::string error = disk->make_durable();
    if (!error.empty()) {
      std::fflush(stdout);
      std::fprintf(stderr, "tessaly: the writes to %s may not have reached the disk: %s\n", disk->config().path.c_str(),
                   error.c_str());
    }
  }
}

// Bits 0-7 the adapter count, bits 8-15 the support status. Without a disk
// the layer answers as ASPI layers do on a machine without adapters.
std::uint32_t ImageBackend::support_info() {
  if (adapter_count_ == 0) return std::uint32_t{SS_NO_ADAPTERS} << 8;
  return (std::uint32_t{SS_COMP} << 8) | static_cast<std::uint32_t>(adapter_count_);
}

ImageDisk* ImageBackend::find(int host_adapter, int target_id) const {
  for (const auto& disk : disks_) {
    if (disk->config().host_adapter == host_adapter && disk->config().target_id == target_id) return disk.get();
  }
  return nullptr;
}

void ImageBackend::complete(ImageDisk& disk, SRB_ExecSCSICmd& srb) {
  execute_image_command(disk, srb);
  post_completion(srb);
}

// Only SC_EXEC_SCSI_CMD is served; other commands are refused without
// posting. Everything else completes through the posting routine, at once or,
// for an "async" disk, from the poster thread a little later.
std::uint32_t ImageBackend::send(SRB_ExecSCSICmd& srb) {
  if (srb.SRB_Cmd != SC_EXEC_SCSI_CMD) {
    srb.SRB_Status = SS_INVALID_CMD;
    return SS_INVALID_CMD;
  }
  if (srb.SRB_HaId >= adapter_count_) {
    set_adapter_outcome(srb, SS_INVALID_HA, HASTAT_OK);
    post_completion(srb);
    return SS_COMP;
  }
  ImageDisk* disk = srb.SRB_Lun == 0 ? find(srb.SRB_HaId, srb.SRB_Target) : nullptr;
  if (disk == nullptr) {
    set_adapter_outcome(srb, SS_NO_DEVICE, HASTAT_SEL_TO);
    post_completion(srb);
    return SS_COMP;
  }
  if (!disk->config().async) {
    complete(*disk, srb);
    return SS_COMP;
  }
  srb.SRB_Status = SS_PENDING;
  SRB_ExecSCSICmd* request = &srb;
  poster_->submit([disk, request] { complete(*disk, *request); });
  return SS_PENDING;
}

}  // namespace

std::unique_ptr<AspiBackend> make_image_backend(std::string_view settings, std::ostream& errors) {
  DiskList disks;
  for (const ImageDiskConfig& config : parse_image_disks(settings, errors)) {
    std::unique_ptr<ImageDisk> disk = ImageDisk::open(config, errors);
    if (disk) disks.push_back(std::move(disk));
  }
  return std::make_unique<ImageBackend>(std::move(disks));
}

}  // namespace platform
