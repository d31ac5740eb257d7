// GetASPI32SupportInfo and SendASPI32Command, and the run's few words to
// the layers beneath (disk_session.h): all forward to the one installed
// backend, chosen on first use (aspi_backend.h). The same on every platform.
#include <memory>
#include <mutex>

#include "platform/aspi_backend.h"
#include "platform/common/plain_lock.h"
#include "platform/console/interrupt_hold.h"
#include "platform/disk_session.h"
#include "platform/dispatch/backend_choice.h"
#include "platform/wnaspi32.h"

namespace platform {
namespace {

PlainLock backend_mutex;
// Shared so that a request in flight keeps its backend alive even if a test
// installs another one meanwhile. Destroyed at exit, which lets an
// asynchronous backend finish and join its thread.
std::shared_ptr<AspiBackend> installed_backend;

std::shared_ptr<AspiBackend> current_backend() {
  std::lock_guard<PlainLock> lock(backend_mutex);
  if (!installed_backend) installed_backend = make_backend_from_environment();
  return installed_backend;
}

}  // namespace

void install_aspi_backend(std::unique_ptr<AspiBackend> backend) {
  std::shared_ptr<AspiBackend> previous;
  {
    std::lock_guard<PlainLock> lock(backend_mutex);
    previous = std::move(installed_backend);
    installed_backend = std::move(backend);
  }
  // `previous` goes here, outside the lock: its requests may still post.
}

void claim_aspi_target(int host_adapter, int target_id, const char* model) {
  current_backend()->claim_target(host_adapter, target_id, model);
}

namespace {
void flush_installed_backend() { current_backend()->flush_writes(); }
}  // namespace

void begin_disk_writes() { hold_console_interrupts(&flush_installed_backend); }

void end_disk_writes() {
  flush_installed_backend();
  release_console_interrupts();
}

bool fall_back_to_next_aspi_layer() {
  std::shared_ptr<AspiBackend> current = current_backend();
  std::unique_ptr<AspiBackend> next = current->next_layer();
  if (!next) return false;
  install_aspi_backend(std::move(next));
  return true;
}

}  // namespace platform

aspi_types::DWORD GetASPI32SupportInfo() {
  return platform::apply_support_override(platform::current_backend()->support_info());
}

aspi_types::DWORD SendASPI32Command(LPSRB srb) {
  if (srb == nullptr) return SS_INVALID_SRB;
  // The backend is called without the lock: a posting routine may send the
  // next request from inside this call.
  return platform::current_backend()->send(*static_cast<SRB_ExecSCSICmd*>(srb));
}
