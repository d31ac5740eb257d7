#include "platform/wnaspi32_dll/dll_backend.h"

#include "platform/wnaspi32_dll/aspi_library.h"

namespace platform {
namespace {

class DllBackend final : public AspiBackend {
 public:
  explicit DllBackend(const AspiLibrary& library) : library_(library) {}

  // The DLL is never released, not even when the backend goes at exit: a
  // layer's own threads may still be winding down inside it.
  std::uint32_t support_info() override { return library_.get_support_info(); }
  std::uint32_t send(SRB_ExecSCSICmd& srb) override { return library_.send_command(&srb); }

 private:
  const AspiLibrary library_;
};

}  // namespace

std::unique_ptr<AspiBackend> make_dll_backend() {
  const AspiLibrary library = load_aspi_library(ASPI_LIBRARY_NAME);
  if (!library.usable()) return nullptr;
  return std::make_unique<DllBackend>(library);
}

}  // namespace platform
