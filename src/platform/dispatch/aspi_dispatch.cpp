// GetASPI32SupportInfo and SendASPI32Command, and the run's few words to
// the layers beneath (disk_session.h): all forward to the one installed
// backend, chosen on first use (aspi_backend.h). The same on every platform.
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/aspi_backend.h"
#include "platform/common/plain_lock.h"
#include "platform/console/interrupt_hold.h"
#include "platform/disk_session.h"
#include "platform/dispatch/backend_choice.h"
#include "platform/wnaspi32.h"

namespace platform {
namespace {

PlainLock backend_mutex;
// Shared so that a call of the run's (claim, flush) keeps its backend alive
// even if a test installs another one meanwhile. Destroyed at exit, which
// lets an asynchronous backend finish and join its thread.
std::shared_ptr<AspiBackend> installed_backend;

// SendASPI32Command runs tens of thousands of times in a check, so it takes
// no lock and no reference: it counts itself in `sends_under_way` and then
// reads `sending_backend`. A backend replaced while sends are under way is
// kept in `replaced_backends` until the count falls to zero. Both sides use
// sequentially consistent order: either the installation sees the send
// counted, or the send reads the new backend.
std::atomic<AspiBackend*> sending_backend{nullptr};
std::atomic<int> sends_under_way{0};
std::atomic<bool> replaced_pending{false};
std::vector<std::shared_ptr<AspiBackend>> replaced_backends;  // under backend_mutex

std::shared_ptr<AspiBackend> current_backend() {
  std::lock_guard<PlainLock> lock(backend_mutex);
  if (!installed_backend) {
    installed_backend = make_backend_from_environment();
    sending_backend.store(installed_backend.get());
  }
  return installed_backend;
}

// The replaced backends, once no send can be using them.
void release_replaced_backends() {
  std::vector<std::shared_ptr<AspiBackend>> released;
  {
    std::lock_guard<PlainLock> lock(backend_mutex);
    if (sends_under_way.load() != 0) return;
    released.swap(replaced_backends);
    replaced_pending.store(false);
  }
  // Destroyed here, outside the lock: their requests may still post.
}

// Counts a send for as long as it lives.
class CountedSend {
 public:
  CountedSend() { sends_under_way.fetch_add(1); }
  ~CountedSend() {
    if (sends_under_way.fetch_sub(1) == 1 && replaced_pending.load()) release_replaced_backends();
  }
  CountedSend(const CountedSend&) = delete;
  CountedSend& operator=(const CountedSend&) = delete;
};

}  // namespace

void install_aspi_backend(std::unique_ptr<AspiBackend> backend) {
  std::shared_ptr<AspiBackend> previous;
  {
    std::lock_guard<PlainLock> lock(backend_mutex);
    previous = std::move(installed_backend);
    installed_backend = std::move(backend);
    sending_backend.store(installed_backend.get());
    if (previous && sends_under_way.load() != 0) {
      replaced_backends.push_back(std::move(previous));
      replaced_pending.store(true);
    }
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
  const platform::CountedSend counted;
  platform::AspiBackend* backend = platform::sending_backend.load();
  if (backend == nullptr) backend = platform::current_backend().get();
  return backend->send(*static_cast<SRB_ExecSCSICmd*>(srb));
}
