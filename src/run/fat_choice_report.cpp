#include "run/fat_choice_report.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/console/console_text.h"
#include "run/tell_user.h"

namespace {

constexpr std::size_t MAX_FILE_LINES = 20;
constexpr std::size_t MAX_NOTE_LINES = 5;
// Indexed by FileFate: the order in which the lines come.
constexpr int FATE_ORDER[] = {2, 1, 0};

// The path as the console shows it; a folder's ends in "/".
std::string shown_path(const FileTree& tree, std::int32_t node) {
  std::string path = platform::console_text(node_path(tree, node));
  if (node != 0 && tree.nodes[static_cast<std::size_t>(node)].folder) path += '/';
  return path;
}

const char* fault_words(ChainFault fault, bool folder) {
  switch (fault) {
    case CHAIN_SOUND: return "its chain is a different one";
    case CHAIN_UNREACHED: return "its folder's chain does not reach its entry";
    case CHAIN_FREE: return "its chain runs into a free cluster";
    case CHAIN_BAD: return "its chain runs into a cluster marked bad";
    case CHAIN_RESERVED: return "its chain runs into a reserved entry";
    case CHAIN_OUT_OF_RANGE: return "its chain leaves the volume";
    case CHAIN_LOOP: return "its chain loops";
    case CHAIN_CROSS_LINKED: return "its chain shares a cluster with another";
    case CHAIN_SHORT: return folder ? "it has no cluster" : "its chain is too short for its size";
    case CHAIN_LONG: return "its chain is too long for its size";
    case CHAIN_UNREADABLE: return "its chain runs through a FAT sector that cannot be read";
  }
  return "its chain is broken";
}

std::string verdict_line(const FileTree& tree, const FileVerdict& verdict) {
  const bool folder = tree.nodes[static_cast<std::size_t>(verdict.node)].folder;
  const std::string path = shown_path(tree, verdict.node);
  switch (verdict.fate) {
    case FATE_FROM_SECOND:
      return path + ": mended from the second FAT (in the first " + fault_words(verdict.first_fault, folder) + ")";
    case FATE_FROM_FIRST:
      return path + ": kept from the first FAT (in the second " + fault_words(verdict.second_fault, folder) + ")";
    case FATE_BROKEN:
      break;
  }
  if (verdict.kept_for >= 0) {
    return path + ": still broken: the first FAT keeps it, but its sectors there would break " +
           shown_path(tree, verdict.kept_for) + ", which the second FAT keeps";
  }
  if (verdict.first_fault == CHAIN_SOUND || verdict.second_fault == CHAIN_SOUND) {
    return path + ": still broken: the " + (verdict.first_fault == CHAIN_SOUND ? "first" : "second") +
           " FAT keeps it, but not alongside what the repair keeps of the other (as left, " +
           fault_words(verdict.left_fault, folder) + ")";
  }
  return path + ": still broken (in the first FAT " + fault_words(verdict.first_fault, folder) + "; in the second " +
         fault_words(verdict.second_fault, folder) + ")";
}

// A folder's chain that leads nowhere is told only where no line about
// that folder says so already.
bool told_by_verdict(const FatJudgement& judgement, std::int32_t node) {
  for (const FileVerdict& verdict : judgement.verdicts) {
    if (verdict.node == node) return true;
  }
  return false;
}

std::string note_line(const FileTree& tree, const TreeNote& note) {
  const std::string folder = shown_path(tree, note.node);
  switch (note.kind) {
    case NOTE_UNREADABLE_SECTOR:
      return "sector " + std::to_string(note.sector) + " of the folder " + folder +
             " cannot be read: the entries there are not judged";
    case NOTE_CHAIN_LEAVES:
      return "the chain of the folder " + folder + " runs to cluster " + std::to_string(note.sector) +
             ", outside the volume or back onto itself: read up to there";
    case NOTE_SHARED_CLUSTER:
      return "the chain of the folder " + folder + " runs into cluster " + std::to_string(note.sector) +
             " of another folder: read up to there";
  }
  return {};
}

void tell_notes(const FatJudgement& judgement) {
  std::size_t told = 0;
  std::size_t more = 0;
  for (const TreeNote& note : judgement.tree.notes) {
    if (note.kind == NOTE_CHAIN_LEAVES && told_by_verdict(judgement, note.node)) continue;
    if (told == MAX_NOTE_LINES) {
      ++more;
      continue;
    }
    tell_user(note_line(judgement.tree, note));
    ++told;
  }
  if (more > 0) tell_user("and " + std::to_string(more) + " more places in folders that could not be read");
}

std::string count_of(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void tell_fat_choice(const FatJudgement& judgement) {
  if (judgement.not_judged != nullptr) {
    tell_user(std::string("the files could not be judged (") + judgement.not_judged +
         "), so the FAT repair copies the second FAT over the first, as it always has");
    return;
  }
  tell_notes(judgement);
  // What stays broken first, then what the first FAT saves, then what the
  // second mends; each in the order of the walk.
  std::vector<FileVerdict> verdicts = judgement.verdicts;
  std::stable_sort(verdicts.begin(), verdicts.end(), [](const FileVerdict& a, const FileVerdict& b) {
    return FATE_ORDER[a.fate] < FATE_ORDER[b.fate];
  });
  const std::size_t shown = std::min(verdicts.size(), MAX_FILE_LINES);
  for (std::size_t i = 0; i < shown; ++i) tell_user(verdict_line(judgement.tree, verdicts[i]));
  if (judgement.verdicts.size() > shown) {
    tell_user("and " + std::to_string(judgement.verdicts.size() - shown) +
         " more files and folders whose chains differ between the FATs");
  }
  tell_user("the FAT repair copies " + count_of(judgement.to_first, "sector", "sectors") +
       " from the second FAT over the first and " + std::to_string(judgement.to_second) +
       " from the first over the second; " + count_of(judgement.tree.files, "file", "files") + " and " +
       count_of(judgement.tree.folders, "folder", "folders") + " were read");
}
