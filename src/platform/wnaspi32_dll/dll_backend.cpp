#include "platform/wnaspi32_dll/dll_backend.h"

#include "platform/common/srb_commands.h"
#include "platform/common/srb_outcome.h"
#include "platform/passthrough/passthrough_backend.h"
#include "platform/passthrough/passthrough_guard.h"
#include "platform/wnaspi32_dll/aspi_library.h"

namespace platform {
namespace {

class DllBackend final : public AspiBackend {
 public:
  explicit DllBackend(const AspiLibrary& library) : library_(library) {}

  // The DLL is never released, not even when the backend goes at exit: a
  // layer's own threads may still be winding down inside it. The locked
  // volumes are let go at exit, with the process's handles.
  std::uint32_t support_info() override { return library_.get_support_info(); }

  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    if (srb.SRB_Cmd == SC_EXEC_SCSI_CMD && srb.CDBByte[0] == OP_WRITE_10 && !may_write(srb)) {
      set_check_condition(srb, SENSE_WRITE_PROTECTED);
      post_completion(srb);
      return SS_COMP;
    }
    return library_.send_command(&srb);
  }

  // The volumes of the disk behind the layer are locked before it is read.
  void claim_target(int host_adapter, int target_id, const char* model) override {
    if (claimed_) return;
    claimed_ = true;
    claimed_adapter_ = host_adapter;
    claimed_target_ = target_id;
    env_ = pt::machine_environment();
    guard_ = pt::guard_disk_behind_layer(env_, target_id, model);
  }

  // A layer that serves only CD and DVD drives hides the disk from it.
  std::unique_ptr<AspiBackend> next_layer() override { return make_passthrough_backend(); }

 private:
  // Only the claimed disk is written, and only when its volumes are locked.
  bool may_write(const SRB_ExecSCSICmd& srb) const {
    return claimed_ && guard_.writable && srb.SRB_HaId == claimed_adapter_ && srb.SRB_Target == claimed_target_;
  }

  const AspiLibrary library_;
  bool claimed_ = false;
  int claimed_adapter_ = -1;
  int claimed_target_ = -1;
  pt::PtEnvironment env_;
  pt::LayerDiskGuard guard_;
};

}  // namespace

std::unique_ptr<AspiBackend> make_dll_backend() {
  const AspiLibrary library = load_aspi_library(ASPI_LIBRARY_NAME);
  if (!library.usable()) return nullptr;
  return std::make_unique<DllBackend>(library);
}

}  // namespace platform
