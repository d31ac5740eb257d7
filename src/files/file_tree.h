// The volume's folder tree, read from the disk once, between the FAT
// comparison and the first box, for judging the FAT sectors that differ.
// Each folder is read through the clusters that either FAT's chain for it
// reaches, so that the entries the one copy keeps and the other loses are
// both seen; which of them a FAT really shows is left to the judgement
// (file_chains.h), by the cluster each entry lies in.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "files/fat_copies.h"

struct TreeNode {
  std::int32_t parent = -1;          // -1 for the root folder
  std::uint32_t first_cluster = 0;
  std::uint32_t size = 0;            // in bytes, files only
  std::uint32_t home_cluster = 0;    // the cluster of the parent that holds its entry
  std::uint32_t name_at = 0;         // in FileTree::names
  std::uint32_t name_length = 0;
  std::uint16_t depth = 0;           // the root is 0
  bool folder = false;
};

// One cluster of a folder as read: the entries found in it, by node.
struct FolderCluster {
  std::int32_t folder = -1;
  std::uint32_t first_child = 0;
  std::uint32_t child_count = 0;
  std::uint32_t unreadable_sectors = 0;
  bool ends_folder = false;  // the end mark lies in it: nothing after it belongs to the folder
};

enum TreeNoteKind {
  NOTE_UNREADABLE_SECTOR,  // a sector of a folder could not be read: its entries are not known
  NOTE_CHAIN_LEAVES,       // a folder's chain leads past the volume, or loops: read up to there
  NOTE_SHARED_CLUSTER,     // a folder's chain runs into a cluster read for another folder
};

struct TreeNote {
  TreeNoteKind kind;
  std::int32_t node;
  std::int64_t sector;  // the sector or cluster concerned
};

// How far the walk may go: nodes (files and folders), folder depth, and
// folder sectors read (the memory one level of the walk may hold).
struct TreeBounds {
  std::uint32_t nodes = 500000;
  std::uint16_t depth = 128;
  std::int64_t folder_sectors = 131072;  // 64 MiB
};

struct FileTree {
  std::vector<TreeNode> nodes;  // the root first; every parent before its children
  std::u16string names;
  std::unordered_map<std::uint32_t, FolderCluster> folder_clusters;  // by cluster number
  std::vector<TreeNote> notes;
  const char* bound_hit = nullptr;  // which bound stopped the walk, in words
  std::uint32_t files = 0;
  std::uint32_t folders = 0;
  std::int64_t sectors_read = 0;
  std::int64_t requests = 0;
};

// Walks every folder from the root: each level's folder clusters are read
// in disk order, runs of neighbouring clusters in one request of up to 128
// sectors, quietly (a failed request is read again sector by sector, and a
// sector that still fails is noted).
void walk_file_tree(const FatCopies& copies, FileTree& tree, const TreeBounds& bounds = {});

// The node's name, and its path from the root ("/" for the root itself).
std::u16string node_name(const FileTree& tree, std::int32_t node);
std::u16string node_path(const FileTree& tree, std::int32_t node);
