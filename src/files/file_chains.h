// Judging cluster chains under one FAT view. A chain is sound when it runs
// from its first cluster through cluster numbers of the volume to an
// end-of-chain mark, without a free, bad or reserved entry, without coming
// back onto itself or onto a cluster of another chain, and, for a file, in
// exactly as many clusters as its size needs (an empty file has none). A
// folder's chain is sound at any length of one cluster or more.
#pragma once

#include <cstdint>
#include <vector>

#include "files/fat_copies.h"
#include "files/file_tree.h"

// 0 for a sound chain; otherwise how it fails.
enum ChainFault : std::uint8_t {
  CHAIN_SOUND = 0,
  CHAIN_UNREACHED,      // its entry lies where its folder's chain does not reach
  CHAIN_FREE,           // runs into a free entry
  CHAIN_BAD,            // into a cluster marked bad
  CHAIN_RESERVED,       // into a reserved value
  CHAIN_OUT_OF_RANGE,   // to a cluster number outside the volume
  CHAIN_LOOP,           // back onto itself
  CHAIN_CROSS_LINKED,   // onto a cluster of another chain, or another onto it
  CHAIN_SHORT,          // fewer clusters than its size needs (a folder: none)
  CHAIN_LONG,           // more clusters than its size needs
  CHAIN_UNREADABLE,     // through a FAT sector that could not be read
};

struct ChainStart {
  std::uint32_t first_cluster = 0;
  std::uint32_t size = 0;
  bool folder = false;
};

struct ChainResult {
  ChainFault fault = CHAIN_UNREACHED;
  std::uint32_t offset = 0;  // its clusters in ChainJudge::clusters: every cluster whose entry it read
  std::uint32_t length = 0;
  std::int32_t partner = -1;  // the other chain of a cross-link
};

// Chains judged one after another under one view: a cluster that two of
// them reach makes both cross-linked.
struct ChainJudge {
  FatView view;
  std::vector<std::int32_t> owner;  // per cluster: the chain that reached it, -1
  std::vector<std::uint32_t> clusters;
  std::vector<ChainResult> results;
};

void start_chain_judge(ChainJudge& judge, const FatView& view);

// Judges the next chain; its result is judge.results.back().
void judge_chain(ChainJudge& judge, const ChainStart& start);

// Leaves an unreached chain's place in the results (nothing is followed).
void skip_chain(ChainJudge& judge);

// Every node of the tree under `view`: the root's chain, then each node in
// order, reached only where its parent is reached and the parent's chain in
// this view, up to the folder's end mark, runs through the cluster that
// holds its entry. judge.results[n] is node n's.
void judge_tree(const FileTree& tree, const FatView& view, ChainJudge& judge);

// Whether node's chain is the same in both: the same clusters, ending the
// same way.
bool same_chain(const ChainJudge& a, const ChainJudge& b, std::int32_t node);
