#include "files/file_tree.h"

#include <algorithm>
#include <unordered_set>

#include "fat/sector_transfer.h"
#include "files/folder_entries.h"

namespace {

// FAT32 folders hold at most 65,536 entries: 2 MiB.
constexpr std::uint32_t MAX_FOLDER_BYTES = 65536 * FOLDER_ENTRY_SIZE;
constexpr std::uint16_t MAX_SECTORS_PER_REQUEST = 128;

// One FAT's chain for a folder: its clusters up to the end mark, or up to
// the first entry that is no link to a cluster of the volume. True when it
// ends in an end mark; a chain that loops or leaves the volume is noted.
bool folder_chain(const FatView& view, const FileVolume& volume, std::int32_t folder, std::uint32_t first,
                  std::vector<std::uint32_t>& chain, std::vector<TreeNote>& notes) {
  const std::uint32_t most = MAX_FOLDER_BYTES / volume.cluster_bytes();
  std::unordered_set<std::uint32_t> own;
  std::uint32_t cluster = first;
  while (chain.size() < most) {
    if (!volume.holds_cluster(cluster) || !own.insert(cluster).second) {
      notes.push_back({NOTE_CHAIN_LEAVES, folder, cluster});
      return false;
    }
    chain.push_back(cluster);
    const std::uint32_t next = fat_entry(view, cluster);
    if (ends_chain(next)) return true;
    if (next < 2 || next == ENTRY_UNREADABLE) return false;
    cluster = next;
  }
  return false;
}

// The clusters to read for a folder: its chain in each FAT that keeps it
// sound, the first FAT's first. A broken chain may run on through a wrong
// link into clusters of file data, which read as entries would be noise;
// when neither FAT keeps the chain sound, only the clusters both chains
// begin with are read.
std::vector<std::uint32_t> folder_clusters(const FatCopies& copies, std::int32_t folder, std::uint32_t first,
                                           std::vector<TreeNote>& notes) {
  if (first == 0) return {};  // a folder without a cluster holds nothing to read
  const std::size_t noted = notes.size();
  std::vector<std::uint32_t> in_first;
  std::vector<std::uint32_t> in_second;
  const bool first_sound = folder_chain(whole_fat(copies, FAT_FIRST), copies.volume, folder, first, in_first, notes);
  const bool second_sound =
      folder_chain(whole_fat(copies, FAT_SECOND), copies.volume, folder, first, in_second, notes);
  if (notes.size() > noted + 1) notes.resize(noted + 1);  // once per folder
  std::vector<std::uint32_t> order;
  if (!first_sound && !second_sound) {
    for (std::size_t i = 0; i < in_first.size() && i < in_second.size() && in_first[i] == in_second[i]; ++i) {
      order.push_back(in_first[i]);
    }
    return order;
  }
  if (first_sound) order = in_first;
  if (second_sound) {
    std::unordered_set<std::uint32_t> seen(order.begin(), order.end());
    for (std::uint32_t cluster : in_second) {
      if (seen.insert(cluster).second) order.push_back(cluster);
    }
  }
  return order;
}

// One level's folder clusters as read, by cluster number.
struct LevelData {
  std::uint32_t cluster_sectors = 0;
  std::unordered_map<std::uint32_t, std::size_t> at;  // cluster: its first sector in `bytes`
  std::vector<std::uint8_t> bytes;
  std::vector<bool> unreadable;  // per sector of `bytes`
};

void read_run(FileTree& tree, std::int64_t first, std::uint32_t count, std::uint8_t* out,
              std::vector<bool>::iterator unreadable) {
  while (count > 0) {
    if (disk_transfers.drive_gone) {
      std::fill_n(unreadable, count, true);
      return;
    }
    const std::uint16_t part = static_cast<std::uint16_t>(std::min<std::uint32_t>(count, MAX_SECTORS_PER_REQUEST));
    ++tree.requests;
    tree.sectors_read += part;
    if (!read_disk_sectors_quietly(first, part, out)) {
      // Sector by sector, to tell which of them fail.
      for (std::uint16_t i = 0; i < part && !disk_transfers.drive_gone; ++i) {
        ++tree.requests;
        if (!read_disk_sector_quietly(first + i, out + std::size_t(i) * FILE_SECTOR_SIZE)) unreadable[i] = true;
      }
    }
    first += part;
    count -= part;
    out += std::size_t(part) * FILE_SECTOR_SIZE;
    unreadable += part;
  }
}

// Reads the clusters in disk order, neighbours together.
void read_level(FileTree& tree, const FileVolume& volume, std::vector<std::uint32_t> clusters, LevelData& data) {
  std::sort(clusters.begin(), clusters.end());
  data.cluster_sectors = volume.sectors_per_cluster;
  data.bytes.resize(clusters.size() * volume.cluster_bytes());
  data.unreadable.assign(clusters.size() * volume.sectors_per_cluster, false);
  for (std::size_t i = 0; i < clusters.size();) {
    std::size_t end = i + 1;
    while (end < clusters.size() && clusters[end] == clusters[end - 1] + 1) ++end;
    for (std::size_t k = i; k < end; ++k) data.at[clusters[k]] = k * volume.sectors_per_cluster;
    const std::size_t first_sector = i * volume.sectors_per_cluster;
    read_run(tree, volume.cluster_sector(clusters[i]),
             static_cast<std::uint32_t>((end - i) * volume.sectors_per_cluster),
             data.bytes.data() + first_sector * FILE_SECTOR_SIZE,
             data.unreadable.begin() + static_cast<std::ptrdiff_t>(first_sector));
    i = end;
  }
}

bool add_node(FileTree& tree, const TreeBounds& bounds, std::int32_t parent, std::uint32_t home,
              const FolderEntry& entry) {
  if (tree.nodes.size() >= bounds.nodes) {
    tree.bound_hit = "the walk stopped at its bound of files and folders";
    return false;
  }
  TreeNode node;
  node.parent = parent;
  node.first_cluster = entry.first_cluster;
  node.size = entry.folder ? 0 : entry.size;
  node.home_cluster = home;
  node.name_at = static_cast<std::uint32_t>(tree.names.size());
  node.name_length = static_cast<std::uint32_t>(entry.name.size());
  node.depth = static_cast<std::uint16_t>(tree.nodes[static_cast<std::size_t>(parent)].depth + 1);
  node.folder = entry.folder;
  tree.names += entry.name;
  tree.nodes.push_back(node);
  ++(entry.folder ? tree.folders : tree.files);
  return true;
}

// The entries of one cluster of `folder`, each a node; the long-name state
// carries on into the folder's next cluster. False when a bound stopped it.
bool parse_cluster(FileTree& tree, const TreeBounds& bounds, const FileVolume& volume, const LevelData& data,
                   std::int32_t folder, std::uint32_t cluster, LongNameState& long_name) {
  FolderCluster record;
  record.folder = folder;
  record.first_child = static_cast<std::uint32_t>(tree.nodes.size());
  const std::size_t first = data.at.at(cluster);
  FolderEntry entry;
  for (std::size_t s = first; s < first + data.cluster_sectors && !record.ends_folder; ++s) {
    if (data.unreadable[s]) {
      tree.notes.push_back(
          {NOTE_UNREADABLE_SECTOR, folder, volume.cluster_sector(cluster) + static_cast<std::int64_t>(s - first)});
      long_name = LongNameState{};
      ++record.unreadable_sectors;
      continue;
    }
    const std::uint8_t* sector = data.bytes.data() + s * FILE_SECTOR_SIZE;
    for (std::uint32_t e = 0; e < FILE_SECTOR_SIZE; e += FOLDER_ENTRY_SIZE) {
      const EntryKind kind = read_folder_entry(sector + e, long_name, entry);
      if (kind == ENTRY_END_OF_FOLDER) {
        record.ends_folder = true;
        break;
      }
      if (kind == ENTRY_NAMED && !add_node(tree, bounds, folder, cluster, entry)) return false;
    }
  }
  record.child_count = static_cast<std::uint32_t>(tree.nodes.size()) - record.first_child;
  tree.folder_clusters[cluster] = record;
  return true;
}

// The clusters of each folder of a level, none claimed twice: a cluster
// already read for another folder (or wanted by one before) is noted and
// left to that one.
std::vector<std::vector<std::uint32_t>> plan_level(const FatCopies& copies, FileTree& tree,
                                                   const std::vector<std::int32_t>& level,
                                                   std::vector<std::uint32_t>& all) {
  std::vector<std::vector<std::uint32_t>> plan;
  std::unordered_set<std::uint32_t> wanted;
  for (std::int32_t folder : level) {
    const TreeNode& node = tree.nodes[static_cast<std::size_t>(folder)];
    std::vector<std::uint32_t> own;
    for (std::uint32_t cluster : folder_clusters(copies, folder, node.first_cluster, tree.notes)) {
      if (tree.folder_clusters.count(cluster) != 0 || !wanted.insert(cluster).second) {
        tree.notes.push_back({NOTE_SHARED_CLUSTER, folder, cluster});
        break;
      }
      own.push_back(cluster);
      all.push_back(cluster);
    }
    plan.push_back(std::move(own));
  }
  return plan;
}

// Reads and parses one level; the folders of the next level are returned.
std::vector<std::int32_t> walk_level(const FatCopies& copies, FileTree& tree, const TreeBounds& bounds,
                                     const std::vector<std::int32_t>& level) {
  std::vector<std::uint32_t> all;
  std::vector<std::vector<std::uint32_t>> plan = plan_level(copies, tree, level, all);
  const std::int64_t sectors = static_cast<std::int64_t>(all.size()) * copies.volume.sectors_per_cluster;
  if (tree.sectors_read + sectors > bounds.folder_sectors) {
    tree.bound_hit = "the walk stopped at its bound of folder sectors";
    return {};
  }
  LevelData data;
  read_level(tree, copies.volume, all, data);
  const std::uint32_t first_new = static_cast<std::uint32_t>(tree.nodes.size());
  for (std::size_t f = 0; f < level.size(); ++f) {
    LongNameState long_name;
    for (std::uint32_t cluster : plan[f]) {
      if (!parse_cluster(tree, bounds, copies.volume, data, level[f], cluster, long_name)) return {};
    }
  }
  std::vector<std::int32_t> next;
  for (std::uint32_t n = first_new; n < tree.nodes.size(); ++n) {
    if (!tree.nodes[n].folder) continue;
    if (tree.nodes[n].depth > bounds.depth) {
      tree.bound_hit = "the walk stopped at its bound of folder depth";
      return {};
    }
    next.push_back(static_cast<std::int32_t>(n));
  }
  return next;
}

}  // namespace

void walk_file_tree(const FatCopies& copies, FileTree& tree, const TreeBounds& bounds) {
  tree = FileTree{};
  TreeNode root;
  root.first_cluster = copies.volume.root_cluster;
  root.folder = true;
  tree.nodes.push_back(root);
  tree.folders = 1;
  std::vector<std::int32_t> level{0};
  while (!level.empty()) level = walk_level(copies, tree, bounds, level);
}

std::u16string node_name(const FileTree& tree, std::int32_t node) {
  const TreeNode& n = tree.nodes[static_cast<std::size_t>(node)];
  return tree.names.substr(n.name_at, n.name_length);
}

std::u16string node_path(const FileTree& tree, std::int32_t node) {
  if (node == 0) return u"/";
  std::vector<std::int32_t> ancestry;
  for (std::int32_t n = node; n > 0; n = tree.nodes[static_cast<std::size_t>(n)].parent) ancestry.push_back(n);
  std::u16string path;
  for (auto n = ancestry.rbegin(); n != ancestry.rend(); ++n) {
    const TreeNode& named = tree.nodes[static_cast<std::size_t>(*n)];
    path.push_back(u'/');
    path.append(tree.names, named.name_at, named.name_length);
  }
  return path;
}
