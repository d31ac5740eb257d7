#include "files/file_chains.h"

#include <algorithm>

namespace {

constexpr std::uint32_t BAD_CLUSTER = 0x0FFFFFF7;
constexpr std::uint32_t FIRST_RESERVED_VALUE = 0x0FFFFFF0;

// How the entry `next` ends a chain, or CHAIN_SOUND when it links on.
ChainFault link_fault(const FileVolume& volume, std::uint32_t next) {
  if (next == ENTRY_UNREADABLE) return CHAIN_UNREADABLE;
  if (next == 0) return CHAIN_FREE;
  if (next == BAD_CLUSTER) return CHAIN_BAD;
  if (next == 1 || (next >= FIRST_RESERVED_VALUE && next < BAD_CLUSTER)) return CHAIN_RESERVED;
  if (!volume.holds_cluster(next)) return CHAIN_OUT_OF_RANGE;
  return CHAIN_SOUND;
}

void cross_link(ChainJudge& judge, ChainResult& result, std::int32_t self, std::int32_t other) {
  result.fault = CHAIN_CROSS_LINKED;
  result.partner = other;
  ChainResult& first = judge.results[static_cast<std::size_t>(other)];
  first.fault = CHAIN_CROSS_LINKED;
  if (first.partner < 0) first.partner = self;
}

// Follows the chain from `cluster`; the fault where it stops, CHAIN_SOUND
// at an end-of-chain mark.
ChainFault follow(ChainJudge& judge, ChainResult& result, std::int32_t self, std::uint32_t cluster) {
  const FileVolume& volume = judge.view.copies->volume;
  if (!volume.holds_cluster(cluster)) return CHAIN_OUT_OF_RANGE;
  for (;;) {
    const std::int32_t owner = judge.owner[cluster];
    if (owner == self) return CHAIN_LOOP;
    if (owner >= 0) {
      cross_link(judge, result, self, owner);
      return CHAIN_CROSS_LINKED;
    }
    judge.owner[cluster] = self;
    judge.clusters.push_back(cluster);
    ++result.length;
    const std::uint32_t next = fat_entry(judge.view, cluster);
    if (ends_chain(next)) return CHAIN_SOUND;
    const ChainFault fault = link_fault(volume, next);
    if (fault != CHAIN_SOUND) return fault;
    cluster = next;
  }
}

// A sound chain of the wrong length for its size.
ChainFault length_fault(const FileVolume& volume, const ChainStart& start, std::uint32_t length) {
  if (start.folder) return length == 0 ? CHAIN_SHORT : CHAIN_SOUND;
  const std::uint64_t needed = (std::uint64_t{start.size} + volume.cluster_bytes() - 1) / volume.cluster_bytes();
  if (length < needed) return CHAIN_SHORT;
  if (length > needed) return CHAIN_LONG;
  return CHAIN_SOUND;
}

}  // namespace

void start_chain_judge(ChainJudge& judge, const FatView& view) {
  judge.view = view;
  judge.owner.assign(std::size_t{view.copies->volume.last_cluster} + 1, -1);
  judge.clusters.clear();
  judge.results.clear();
}

void judge_chain(ChainJudge& judge, const ChainStart& start) {
  const std::int32_t self = static_cast<std::int32_t>(judge.results.size());
  judge.results.push_back(ChainResult{});
  ChainResult result;
  result.offset = static_cast<std::uint32_t>(judge.clusters.size());
  // An empty file has no cluster; a folder other than the root needs one.
  ChainFault fault = start.first_cluster == 0 ? CHAIN_SOUND : follow(judge, result, self, start.first_cluster);
  if (fault == CHAIN_SOUND) fault = length_fault(judge.view.copies->volume, start, result.length);
  result.fault = fault;
  judge.results[static_cast<std::size_t>(self)] = result;
}

void skip_chain(ChainJudge& judge) {
  ChainResult result;
  result.offset = static_cast<std::uint32_t>(judge.clusters.size());
  judge.results.push_back(result);
}

namespace {

// Marks the nodes whose entries the folder's chain in this view reaches:
// cluster by cluster in chain order, to the end mark, or to a cluster the
// walk did not read for this folder (what lies beyond is not known).
void reach_children(const FileTree& tree, const ChainJudge& judge, std::int32_t folder, std::vector<bool>& reached) {
  const ChainResult& result = judge.results[static_cast<std::size_t>(folder)];
  for (std::uint32_t i = 0; i < result.length; ++i) {
    const auto found = tree.folder_clusters.find(judge.clusters[result.offset + i]);
    if (found == tree.folder_clusters.end() || found->second.folder != folder) return;
    const FolderCluster& cluster = found->second;
    std::fill_n(reached.begin() + cluster.first_child, cluster.child_count, true);
    if (cluster.ends_folder) return;
  }
}

}  // namespace

void judge_tree(const FileTree& tree, const FatView& view, ChainJudge& judge) {
  start_chain_judge(judge, view);
  std::vector<bool> reached(tree.nodes.size(), false);
  reached[0] = true;
  for (std::size_t n = 0; n < tree.nodes.size(); ++n) {
    const TreeNode& node = tree.nodes[n];
    if (!reached[n]) {
      skip_chain(judge);
      continue;
    }
    judge_chain(judge, ChainStart{node.first_cluster, node.size, node.folder});
    if (node.folder) reach_children(tree, judge, static_cast<std::int32_t>(n), reached);
  }
}

bool same_chain(const ChainJudge& a, const ChainJudge& b, std::int32_t node) {
  const ChainResult& x = a.results[static_cast<std::size_t>(node)];
  const ChainResult& y = b.results[static_cast<std::size_t>(node)];
  if (x.fault != y.fault || x.length != y.length) return false;
  return std::equal(a.clusters.begin() + x.offset, a.clusters.begin() + x.offset + x.length,
                    b.clusters.begin() + y.offset);
}
