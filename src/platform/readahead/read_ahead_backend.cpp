#include "platform/readahead/read_ahead_backend.h"

#include <algorithm>
#include <atomic>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/common/plain_lock.h"
#include "platform/common/scsi_commands.h"
#include "platform/common/srb_outcome.h"
#include "platform/readahead/posting_watch.h"
#include "platform/readahead/window_set.h"
#include "platform/win32_api.h"

namespace platform {
namespace {

std::uint32_t target_key(const SRB_ExecSCSICmd& srb) { return (std::uint32_t{srb.SRB_HaId} << 8) | srb.SRB_Target; }

// A READ(10) or WRITE(10) of the cache's concern: a 10-byte CDB to LUN 0
// without any of the optional bits, its buffer as long as its sectors.
bool plain_transfer(const SRB_ExecSCSICmd& srb, std::uint8_t opcode) {
  if (srb.SRB_Cmd != SC_EXEC_SCSI_CMD || srb.SRB_Lun != 0 || srb.SRB_CDBLen != CDB10_SIZE) return false;
  const std::uint8_t* cdb = srb.CDBByte;
  if (cdb[CDB_OPCODE] != opcode || cdb[CDB10_FLAGS] != 0 || cdb[CDB10_GROUP] != 0 || cdb[CDB10_CONTROL] != 0) {
    return false;
  }
  const std::uint32_t count = cdb10_blocks(cdb);
  return count > 0 && srb.SRB_BufPointer != nullptr && srb.SRB_BufLen >= count * CACHED_SECTOR_BYTES;
}

std::uint32_t first_sector(const SRB_ExecSCSICmd& srb) { return cdb10_lba(srb.CDBByte); }
std::uint32_t sector_count(const SRB_ExecSCSICmd& srb) { return cdb10_blocks(srb.CDBByte); }

// A single-sector read the cache may answer itself: completion by posting
// routine or by the status byte alone (an event to signal is left to the
// layer below).
bool cacheable_read(const SRB_ExecSCSICmd& srb) {
  return plain_transfer(srb, OP_READ_10) && sector_count(srb) == 1 && (srb.SRB_Flags & SRB_DIR_OUT) == 0 &&
         (srb.SRB_Flags & SRB_EVENT_NOTIFY) == 0;
}

// Held by the state shared between the caller's thread and a posting
// thread. A lock that makes a waiter sleep, not spin: on a machine with one
// processor a spinning caller would keep the posting thread that holds the
// lock from running for the rest of its time slice.
class Locked {
 public:
  explicit Locked(PlainLock& lock) : lock_(lock) { lock_.lock(); }
  ~Locked() { lock_.unlock(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  PlainLock& lock_;
};

// One read-ahead of the cache's own: the block first, so that the posting
// routine finds the whole from the block's address. `data` is the memory of
// the window it reads (SectorWindows::make_room), owned by the read until
// the window is held.
struct InnerRead {
  SRB_ExecSCSICmd block;
  std::atomic<bool> posted;
  std::uint8_t* data;
  std::uint32_t capacity;  // in sectors
};
static_assert(std::is_standard_layout_v<InnerRead>, "the block must sit at the start of InnerRead");

void inner_read_posted(SRB_ExecSCSICmd* srb) {
  reinterpret_cast<InnerRead*>(srb)->posted.store(true, std::memory_order_release);
}

struct InnerReadDeleter {
  void operator()(InnerRead* read) const {
    FreeWindowData{}(read->data);
    delete read;
  }
};
using InnerReadPtr = std::unique_ptr<InnerRead, InnerReadDeleter>;

// Read-aheads given up on outlive the cache that sent them: the layer below
// may still post them when the cache is gone (a DLL's threads outlast the
// backend). Held here, reachable, until the process ends.
void keep_until_exit(InnerReadPtr read) {
  static std::vector<InnerRead*>* const kept = new std::vector<InnerRead*>;
  kept->push_back(read.release());
}

// What the cache knows of one target.
struct TargetState {
  std::uint32_t key = 0;
  std::uint32_t capacity = 0;      // in sectors; 0: unknown
  std::uint32_t max_transfer = 0;  // 0: not asked yet
  std::vector<std::pair<std::uint32_t, std::uint32_t>> failed;  // read-ahead windows that failed: [first, end)
};

// Failed windows remembered per target; older ones are forgotten (their
// sectors then take part in read-ahead again, which costs one command).
constexpr std::size_t FAILED_WINDOWS_KEPT = 256;

class ReadAheadBackend final : public AspiBackend, private PostingWatcher {
 public:
  explicit ReadAheadBackend(std::unique_ptr<AspiBackend> inner)
      : windows_(READ_AHEAD_WINDOWS, READ_AHEAD_CACHE_SECTORS), inner_(std::move(inner)) {}

  ~ReadAheadBackend() override {
    inner_.reset();
    for (InnerReadPtr& read : retired_) keep_until_exit(std::move(read));
  }

  // Whatever was read of the disk before the layer below locked it may have
  // changed since: the cache starts over for it.
  void claim_target(int host_adapter, int target_id, const char* model) override {
    inner_->claim_target(host_adapter, target_id, model);
    const std::uint32_t key = (std::uint32_t(host_adapter & 0xFF) << 8) | std::uint32_t(target_id & 0xFF);
    Locked hold(lock_);
    windows_.clear(key);
  }

  void flush_writes() override { inner_->flush_writes(); }

  std::unique_ptr<AspiBackend> next_layer() override {
    std::unique_ptr<AspiBackend> next = inner_->next_layer();
    return next ? make_read_ahead_backend(std::move(next)) : nullptr;
  }

  std::uint32_t support_info() override { return inner_->support_info(); }

  std::uint32_t max_transfer_sectors(int host_adapter, int target_id) override {
    return inner_->max_transfer_sectors(host_adapter, target_id);
  }

  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    if (cacheable_read(srb)) return read_sector(srb);
    if (plain_transfer(srb, OP_WRITE_10)) return pass_watched(srb);
    if (srb.SRB_Cmd == SC_EXEC_SCSI_CMD && srb.SRB_Lun == 0 && srb.CDBByte[CDB_OPCODE] == OP_READ_CAPACITY_10) {
      return pass_watched(srb);
    }
    return inner_->send(srb);
  }

 private:
  TargetState& target(std::uint32_t key) {
    for (TargetState& state : targets_) {
      if (state.key == key) return state;
    }
    targets_.push_back(TargetState{key, 0, 0, {}});
    return targets_.back();
  }

  // Before a write or a capacity query goes on: what it may change is
  // forgotten now, and learnt again from its outcome.
  void forget_before(const SRB_ExecSCSICmd& srb) {
    Locked hold(lock_);
    if (srb.CDBByte[CDB_OPCODE] == OP_WRITE_10) {
      windows_.drop(target_key(srb), first_sector(srb), sector_count(srb));
    } else {
      target(target_key(srb)).capacity = 0;
    }
  }

  // A write's sectors stay dropped, whatever its outcome: a read after a
  // write is how a write is checked, and a copy of what was sent would
  // answer it however the disk kept the write.
  void watched_completion(SRB_ExecSCSICmd& srb) override {
    if (srb.SRB_Status != SS_COMP || srb.CDBByte[CDB_OPCODE] == OP_WRITE_10) return;
    Locked hold(lock_);
    if (srb.SRB_BufPointer != nullptr && srb.SRB_BufLen >= CAPACITY_DATA_SIZE &&
        get_be32(srb.SRB_BufPointer + CAPACITY_BLOCK_LENGTH) == CACHED_SECTOR_BYTES &&
        get_be32(srb.SRB_BufPointer + CAPACITY_LAST_LBA) != UINT32_MAX) {
      target(target_key(srb)).capacity = get_be32(srb.SRB_BufPointer + CAPACITY_LAST_LBA) + 1;
    }
  }

  // A write or capacity query, handed on as it is with the cache watching
  // for its outcome.
  std::uint32_t pass_watched(SRB_ExecSCSICmd& srb) {
    forget_before(srb);
    if (!watch_posting(srb, *this)) return inner_->send(srb);
    const std::uint32_t accepted = inner_->send(srb);
    if (accepted != SS_PENDING && accepted != SS_COMP) unwatch_posting(srb);
    return accepted;
  }

  std::uint32_t read_sector(SRB_ExecSCSICmd& srb) {
    const std::uint32_t key = target_key(srb);
    const std::uint32_t sector = first_sector(srb);
    if (held(key, sector, srb)) return complete_from_cache(srb);
    // A sector dropped from its window (written since) is read by itself, as
    // without the cache.
    if (covered(key, sector)) return inner_->send(srb);
    const std::uint32_t count = posts_completed_requests_ ? window_length(srb, key, sector) : 0;
    if (count < 2) return inner_->send(srb);
    InnerReadPtr read = read_window(srb, sector, count);
    if (!read) {
      remember_failed(key, sector, count);
      return inner_->send(srb);
    }
    {
      Locked hold(lock_);
      windows_.insert(key, sector, count, WindowMemory{WindowData(read->data), read->capacity});
      read->data = nullptr;
    }
    return held(key, sector, srb) ? complete_from_cache(srb) : inner_->send(srb);
  }

  void remember_failed(std::uint32_t key, std::uint32_t sector, std::uint32_t count) {
    Locked hold(lock_);
    TargetState& state = target(key);
    if (state.failed.size() == FAILED_WINDOWS_KEPT) state.failed.erase(state.failed.begin());
    state.failed.emplace_back(sector, sector + count);
  }

  bool covered(std::uint32_t key, std::uint32_t sector) {
    Locked hold(lock_);
    return windows_.covers(key, sector);
  }

  // Copies the sector into the block when it is held.
  bool held(std::uint32_t key, std::uint32_t sector, SRB_ExecSCSICmd& srb) {
    Locked hold(lock_);
    return windows_.read(key, sector, srb.SRB_BufPointer);
  }

  // Good, as the device completes a read: status bytes set, sense untouched,
  // posted once before the call returns, outside the lock (the posting
  // routine may send the next request at once).
  static std::uint32_t complete_from_cache(SRB_ExecSCSICmd& srb) {
    set_good(srb);
    post_completion(srb);
    return SS_COMP;
  }

  // Sectors to read ahead from `sector`: up to the device's limit, the end
  // of the disk and the next window that failed; 0 when the capacity is
  // unknown or the sector lies in a failed window.
  std::uint32_t window_length(const SRB_ExecSCSICmd& srb, std::uint32_t key, std::uint32_t sector) {
    std::uint32_t limit = 0;
    {
      Locked hold(lock_);
      limit = target(key).max_transfer;
    }
    if (limit == 0) {
      // Asked outside the lock: the layer below may look things up.
      limit = std::max<std::uint32_t>(1, inner_->max_transfer_sectors(srb.SRB_HaId, srb.SRB_Target));
      Locked hold(lock_);
      target(key).max_transfer = limit;
    }
    Locked hold(lock_);
    const TargetState& state = target(key);
    if (state.capacity == 0 || sector >= state.capacity) return 0;
    const std::uint32_t longest = std::min({READ_AHEAD_SECTORS, READ_AHEAD_CACHE_SECTORS, limit});
    std::uint32_t end = sector + std::min(longest, state.capacity - sector);
    for (const auto& [first, last] : state.failed) {
      if (sector >= first && sector < last) return 0;
      if (first > sector) end = std::min(end, first);
    }
    return end - sector;
  }

  // One READ(10) of `count` sectors from `sector`, made from the caller's
  // block (same adapter, target and flags); nothing when it fails in any way.
  InnerReadPtr read_window(const SRB_ExecSCSICmd& srb, std::uint32_t sector, std::uint32_t count) {
    InnerReadPtr read(new InnerRead{});
    {
      Locked hold(lock_);
      WindowMemory memory = windows_.make_room(count);
      read->capacity = memory.capacity;
      read->data = memory.data.release();
    }
    SRB_ExecSCSICmd& block = read->block;
    block.SRB_Cmd = SC_EXEC_SCSI_CMD;
    block.SRB_HaId = srb.SRB_HaId;
    block.SRB_Target = srb.SRB_Target;
    block.SRB_Flags = SRB_DIR_IN | SRB_POSTING;
    block.SRB_BufLen = count * CACHED_SECTOR_BYTES;
    block.SRB_BufPointer = read->data;
    block.SRB_SenseLen = SENSE_LEN;
    block.SRB_CDBLen = CDB10_SIZE;
    block.SRB_PostProc = reinterpret_cast<void*>(&inner_read_posted);
    block.CDBByte[CDB_OPCODE] = OP_READ_10;
    put_cdb10_transfer(block.CDBByte, sector, static_cast<std::uint16_t>(count));

    const std::uint32_t accepted = inner_->send(block);
    if (accepted != SS_PENDING && accepted != SS_COMP) {
      // A refusal posts nothing; should a layer post it all the same, later,
      // the block must still be there.
      if (!read->posted.load(std::memory_order_acquire)) retired_.push_back(std::move(read));
      return nullptr;
    }
    // A layer that completes a request inside the call may leave its posting
    // routine uncalled: such a layer gets no more read-aheads, whose wait
    // would last the whole limit each time.
    const unsigned limit = accepted == SS_COMP ? READ_AHEAD_COMPLETED_GRACE : READ_AHEAD_WAIT_LIMIT;
    for (unsigned waits = 0; !read->posted.load(std::memory_order_acquire); ++waits) {
      if (waits == limit) {
        if (accepted == SS_COMP) posts_completed_requests_ = false;
        retired_.push_back(std::move(read));
        return nullptr;
      }
      Sleep(1);
    }
    const bool good = block.SRB_Status == SS_COMP && block.SRB_HaStat == HASTAT_OK &&
                      block.SRB_TargStat == SCSI_STATUS_GOOD;
    if (!good) return nullptr;
    return read;
  }

  PlainLock lock_;
  SectorWindows windows_;
  std::vector<TargetState> targets_;
  // Read-aheads given up while the layer below might still post them; kept
  // until the layer below is gone.
  std::vector<InnerReadPtr> retired_;
  // Cleared for good when the layer below completed a read-ahead inside the
  // call without posting it.
  bool posts_completed_requests_ = true;
  // Last, so destroyed first: requests it completes at shutdown still find
  // the cache whole.
  std::unique_ptr<AspiBackend> inner_;
};

}  // namespace

std::unique_ptr<AspiBackend> make_read_ahead_backend(std::unique_ptr<AspiBackend> inner) {
  return std::make_unique<ReadAheadBackend>(std::move(inner));
}

}  // namespace platform
