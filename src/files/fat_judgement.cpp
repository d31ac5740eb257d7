#include "files/fat_judgement.h"

#include <algorithm>

#include "fat/sector_transfer.h"

namespace {

// A choice that has not settled after this many rounds is given up: the
// second FAT is then copied whole.
constexpr int MAX_ROUNDS = 64;

// The three views of the tree that the choice weighs.
struct Views {
  ChainJudge first;
  ChainJudge second;
  ChainJudge left;  // as the current choice would leave the FAT
};

struct Choice {
  std::vector<bool> relevant;  // the node's chain differs between the FATs
  std::vector<bool> taken_first;
  std::vector<bool> refused;   // may no longer be taken from the first FAT
  std::vector<std::int32_t> kept_for;
  std::vector<bool> differing;  // per FAT sector
};

bool sound(const ChainJudge& judge, std::int32_t node) {
  return judge.results[static_cast<std::size_t>(node)].fault == CHAIN_SOUND;
}

// The FAT sectors whose choice changes the node's chain in `judge`: those
// holding an entry of the chain that the two copies give differently.
std::vector<std::uint32_t> sectors_of(const ChainJudge& judge, const Choice& choice, std::int32_t node) {
  const ChainResult& result = judge.results[static_cast<std::size_t>(node)];
  const FatView first = whole_fat(*judge.view.copies, FAT_FIRST);
  const FatView second = whole_fat(*judge.view.copies, FAT_SECOND);
  std::vector<std::uint32_t> sectors;
  for (std::uint32_t i = 0; i < result.length; ++i) {
    const std::uint32_t cluster = judge.clusters[result.offset + i];
    const std::uint32_t sector = fat_sector_of(cluster);
    if (choice.differing[sector] && fat_entry(first, cluster) != fat_entry(second, cluster)) sectors.push_back(sector);
  }
  std::sort(sectors.begin(), sectors.end());
  sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
  return sectors;
}

// Whether a whole FAT keeps the node sound: then the repair should too.
bool kept_by_a_copy(const Views& views, std::int32_t node) {
  return sound(views.first, node) || sound(views.second, node);
}

// Survives the repair: reached, sound, and exactly the chain one whole FAT
// kept sound (a mixture of the two copies is no file's chain).
bool survives(const Views& views, std::int32_t node) {
  if (!sound(views.left, node)) return false;
  return (sound(views.first, node) && same_chain(views.left, views.first, node)) ||
         (sound(views.second, node) && same_chain(views.left, views.second, node));
}

// The sides the nodes taken from the first FAT ask for, and for each
// sector the nodes that ask for it.
std::vector<FatSide> sides_for(const FileTree& tree, const Views& views, const Choice& choice,
                               std::vector<std::vector<std::int32_t>>& takers) {
  std::vector<FatSide> sides(choice.differing.size(), FAT_SECOND);
  takers.assign(choice.differing.size(), {});
  for (std::size_t n = 0; n < tree.nodes.size(); ++n) {
    if (!choice.taken_first[n]) continue;
    for (std::uint32_t s : sectors_of(views.first, choice, static_cast<std::int32_t>(n))) {
      sides[s] = FAT_FIRST;
      takers[s].push_back(static_cast<std::int32_t>(n));
    }
  }
  return sides;
}

void refuse(Choice& choice, std::int32_t node, std::int32_t kept_for, bool& changed) {
  const std::size_t n = static_cast<std::size_t>(node);
  if (!choice.taken_first[n]) return;
  choice.taken_first[n] = false;
  choice.refused[n] = true;
  choice.kept_for[n] = kept_for;
  changed = true;
}

// A node the first FAT keeps and the choice breaks: its folder's chain is
// taken from the first FAT too when only that one reaches it; otherwise it
// cannot be kept.
void mend_taken(const FileTree& tree, const Views& views, Choice& choice, std::int32_t node, bool& changed) {
  const std::int32_t parent = tree.nodes[static_cast<std::size_t>(node)].parent;
  const ChainResult& left = views.left.results[static_cast<std::size_t>(node)];
  const std::size_t p = static_cast<std::size_t>(parent);
  if (left.fault == CHAIN_UNREACHED && parent >= 0 && sound(views.first, parent) && !choice.taken_first[p] &&
      !choice.refused[p]) {
    choice.taken_first[p] = true;
    changed = true;
    return;
  }
  refuse(choice, node, left.partner, changed);
}

// A node the second FAT keeps and the choice breaks. Taken from the first
// FAT when that keeps it too; else the nodes taken from the first FAT that
// break it give way: those that need one of its differing sectors, the
// chain it would share a cluster with, the folder whose first-FAT chain
// leaves it unreached.
void mend_kept(const FileTree& tree, const Views& views, Choice& choice,
               const std::vector<std::vector<std::int32_t>>& takers, std::int32_t node, bool& changed) {
  const std::size_t n = static_cast<std::size_t>(node);
  if (sound(views.first, node) && !choice.refused[n] && !choice.taken_first[n]) {
    choice.taken_first[n] = true;
    changed = true;
    return;
  }
  for (std::uint32_t s : sectors_of(views.second, choice, node)) {
    for (std::int32_t taker : takers[s]) refuse(choice, taker, node, changed);
  }
  const ChainResult& left = views.left.results[n];
  if (left.partner >= 0) refuse(choice, left.partner, node, changed);
  if (left.fault == CHAIN_UNREACHED) {
    for (std::int32_t a = tree.nodes[n].parent; a >= 0; a = tree.nodes[static_cast<std::size_t>(a)].parent) {
      refuse(choice, a, node, changed);
    }
  }
}

// One round: the FAT the current choice leaves, judged; every node it
// breaks that a whole FAT kept sound asks for a change. False when none
// did.
bool settle_round(const FileTree& tree, const FatCopies& copies, Views& views, Choice& choice,
                  std::vector<FatSide>& sides) {
  std::vector<std::vector<std::int32_t>> takers;
  sides = sides_for(tree, views, choice, takers);
  judge_tree(tree, chosen_fat(copies, sides), views.left);
  bool changed = false;
  for (std::size_t n = 0; n < tree.nodes.size(); ++n) {
    const std::int32_t node = static_cast<std::int32_t>(n);
    if (!kept_by_a_copy(views, node) || survives(views, node)) continue;
    if (choice.taken_first[n]) {
      mend_taken(tree, views, choice, node, changed);
    } else if (sound(views.second, node)) {
      mend_kept(tree, views, choice, takers, node, changed);
    }
  }
  return changed;
}

void record_verdicts(const FileTree& tree, const Views& views, const Choice& choice, FatJudgement& judgement) {
  for (std::size_t n = 0; n < tree.nodes.size(); ++n) {
    const std::int32_t node = static_cast<std::int32_t>(n);
    if (!choice.relevant[n] && (!kept_by_a_copy(views, node) || survives(views, node))) continue;
    FileVerdict verdict;
    verdict.node = node;
    verdict.first_fault = views.first.results[n].fault;
    verdict.second_fault = views.second.results[n].fault;
    verdict.left_fault = views.left.results[n].fault;
    verdict.kept_for = choice.kept_for[n];
    if (!survives(views, node)) {
      verdict.fate = FATE_BROKEN;
    } else {
      verdict.fate = sound(views.second, node) && same_chain(views.left, views.second, node) ? FATE_FROM_SECOND
                                                                                              : FATE_FROM_FIRST;
    }
    judgement.verdicts.push_back(verdict);
  }
}

}  // namespace

void choose_fat_sides(const FatCopies& copies, FatJudgement& judgement) {
  const FileTree& tree = judgement.tree;
  const std::size_t nodes = tree.nodes.size();
  Views views;
  judge_tree(tree, whole_fat(copies, FAT_FIRST), views.first);
  judge_tree(tree, whole_fat(copies, FAT_SECOND), views.second);
  Choice choice;
  choice.relevant.assign(nodes, false);
  choice.taken_first.assign(nodes, false);
  choice.refused.assign(nodes, false);
  choice.kept_for.assign(nodes, -1);
  choice.differing.assign(static_cast<std::size_t>(copies.volume.fat_size), false);
  for (std::int32_t s : copies.differing) choice.differing[static_cast<std::size_t>(s)] = true;
  for (std::size_t n = 0; n < nodes; ++n) {
    const std::int32_t node = static_cast<std::int32_t>(n);
    choice.relevant[n] = !same_chain(views.first, views.second, node);
    // What the first FAT keeps and the second breaks is what the choice
    // starts from.
    choice.taken_first[n] = choice.relevant[n] && sound(views.first, node) && !sound(views.second, node);
  }
  std::vector<FatSide> sides;
  int round = 0;
  while (settle_round(tree, copies, views, choice, sides)) {
    if (++round == MAX_ROUNDS) {
      judgement.not_judged = "the choice between the two copies did not settle";
      return;
    }
  }
  judgement.sides = sides;
  for (std::int32_t s : copies.differing) {
    ++(sides[static_cast<std::size_t>(s)] == FAT_FIRST ? judgement.to_second : judgement.to_first);
  }
  record_verdicts(tree, views, choice, judgement);
}

void judge_fat_differences(const std::uint8_t* boot_sector, std::int64_t boot_sector_number,
                           std::int64_t first_fat, std::int64_t fat_size, std::uint32_t capacity,
                           FatJudgement& judgement) {
  judgement = FatJudgement{};
  FileVolume volume;
  judgement.not_judged = describe_file_volume(boot_sector, boot_sector_number, first_fat, fat_size, capacity, volume);
  if (judgement.not_judged != nullptr) return;
  FatCopies copies;
  read_fat_copies(volume, copies);
  judgement.fat_sectors_read = copies.sectors_read;
  walk_file_tree(copies, judgement.tree);
  if (disk_transfers.drive_gone) {
    judgement.not_judged = "the disk went away while its FATs and folders were read";
    return;
  }
  const auto root = judgement.tree.folder_clusters.find(volume.root_cluster);
  if (root == judgement.tree.folder_clusters.end() || root->second.unreadable_sectors == volume.sectors_per_cluster) {
    judgement.not_judged = "the root folder cannot be read";
    return;
  }
  if (judgement.tree.bound_hit != nullptr) {
    judgement.not_judged = judgement.tree.bound_hit;
    return;
  }
  choose_fat_sides(copies, judgement);
}
