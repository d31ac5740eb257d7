#include "platform/scsi_generic/scsi_generic_write_guard.h"

#include <cerrno>
#include <cstring>

#include "platform/scsi_generic/scsi_generic_devices.h"
#include "platform/scsi_generic/scsi_generic_sysfs.h"

namespace platform::sg {
namespace {

constexpr const char* NOTHING_WRITTEN = "; nothing is written to this disk";

// What the guard looks at besides the kernel's answer to its claim.
struct Holders {
  const SgEnvironment& env;
  const std::string& node;
  std::string mountinfo = read_text_file(env.mountinfo_path);

  std::string path(const std::string& name) const { return env.dev_dir + "/" + name; }

  // "/dev/sdb1 (sg1)"
  std::string device(const BlockNode& block) const { return path(block.name) + " (" + node + ")"; }

  // Whether a path that the kernel shows (a swap file, a loop device's
  // backing) is this block device: by its name, or by the device it names.
  bool names(const std::string& shown, const BlockNode& block) const {
    if (shown == path(block.name)) return true;
    const std::string number = env.io->block_number(shown);
    return !number.empty() && number == block.number;
  }

  // What holds one block device, as the line's middle part, or "".
  std::string holder_of(const BlockNode& block, const std::vector<std::string>& swaps) const {
    if (auto point = mount_point_of(mountinfo, block.number, path(block.name))) {
      return " is mounted on " + *point + ": unmount it first";
    }
    for (const auto& swap : swaps) {
      if (names(swap, block)) return " is in use as swap: turn it off first (swapoff " + swap + ")";
    }
    if (!block.holders.empty()) {
      return " is held by " + block.holders.front() + " (device mapper or RAID): release it first";
    }
    return {};
  }

  // The line after the kernel refused the claim of `claimed` with `error`.
  std::string refused_claim(const std::vector<BlockNode>& blocks, const BlockNode& claimed,
                            int error) const {
    if (error == EACCES || error == EPERM) {
      return "no permission to claim " + device(claimed) + " before writing: " +
             permission_advice(path(claimed.name), false, "the disk's block devices") + NOTHING_WRITTEN;
    }
    if (error != EBUSY) {
      return "cannot claim " + device(claimed) + " before writing: " + std::strerror(error) +
             NOTHING_WRITTEN;
    }
    const auto swaps = swap_files(read_text_file(env.swaps_path));
    for (const auto& block : blocks) {
      const std::string holder = holder_of(block, swaps);
      if (!holder.empty()) return device(block) + holder + NOTHING_WRITTEN;
    }
    return device(claimed) +
           " is in use (mounted, perhaps in another mount namespace, or opened exclusively by "
           "another program): release it first" + NOTHING_WRITTEN;
  }

  // The line for a loop device bound to one of the disk's block devices.
  std::optional<std::string> loop_over(const std::vector<BlockNode>& blocks) const {
    for (const auto& loop : loop_devices(env.block_dir)) {
      for (const auto& block : blocks) {
        if (!names(loop.backing, block)) continue;
        const std::string loop_path = path(loop.name);
        const auto point = mount_point_of(mountinfo, loop.number, loop_path);
        return device(block) + " is attached to " + loop_path +
               (point ? ", mounted on " + *point + ": unmount it and detach it first"
                      : ": detach it first") +
               " (losetup -d " + loop_path + ")" + NOTHING_WRITTEN;
      }
    }
    return std::nullopt;
  }
};

}  // namespace

WriteGuard guard_writes(const SgEnvironment& env, const std::string& node) {
  WriteGuard guard;
  const auto blocks = block_nodes(env.class_dir, node);
  if (blocks.empty()) return guard;
  const Holders holders{env, node};
  for (const auto& block : blocks) {
    if (block.partition) continue;
    const int claim = env.io->claim_block(holders.path(block.name), block.number);
    if (claim < 0) {
      guard.refusal = holders.refused_claim(blocks, block, -claim);
      break;
    }
    guard.claims.push_back({claim, holders.path(block.name)});
  }
  if (!guard.refusal) guard.refusal = holders.loop_over(blocks);
  if (guard.refusal) {
    for (const BlockClaim& claim : guard.claims) env.io->close_node(claim.fd);
    guard.claims.clear();
  }
  return guard;
}

}  // namespace platform::sg
