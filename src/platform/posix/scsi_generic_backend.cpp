// Placeholder for the SG_IO backend: until the machine's own devices are
// served, this layer reports no host adapters, as an ASPI layer does on a
// machine without SCSI hardware, and completes every request with an invalid
// adapter number.
#include "platform/posix/scsi_generic_backend.h"

namespace platform {
namespace {

class NoAdaptersBackend final : public AspiBackend {
 public:
  std::uint32_t support_info() override { return std::uint32_t{SS_NO_ADAPTERS} << 8; }

  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    srb.SRB_Status = SS_INVALID_HA;
    if ((srb.SRB_Flags & SRB_POSTING) && srb.SRB_PostProc != nullptr) {
      reinterpret_cast<ASPI_POSTPROC>(srb.SRB_PostProc)(&srb);
    }
    return SS_COMP;
  }
};

}  // namespace

std::unique_ptr<AspiBackend> make_scsi_generic_backend() {
  return std::make_unique<NoAdaptersBackend>();
}

}  // namespace platform
