#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "bootarea/little_endian.h"
#include "files/file_chains.h"

namespace {

constexpr std::uint32_t EOC = 0x0FFFFFFF;
constexpr std::uint32_t BAD = 0x0FFFFFF7;

// A FAT of two sectors (clusters 0 to 255) over a volume whose clusters are
// one sector long and end at cluster 200; sector 1 of the FAT may be made
// unreadable.
FatCopies fat_of(const std::map<std::uint32_t, std::uint32_t>& entries, bool second_sector_unreadable = false) {
  FatCopies copies;
  copies.volume.fat_size = 2;
  copies.volume.sectors_per_cluster = 1;
  copies.volume.last_cluster = 200;
  copies.first.assign(2 * 512, 0);
  copies.first_unreadable = {false, second_sector_unreadable};
  copies.second_at = {-1, -1};
  for (const auto& [cluster, value] : entries) write_le32(copies.first.data() + cluster * 4, value);
  return copies;
}

struct ChainRow {
  const char* name;
  std::map<std::uint32_t, std::uint32_t> entries;
  std::vector<ChainStart> chains;
  std::vector<ChainFault> faults;
  std::vector<std::uint32_t> lengths;
  bool unreadable = false;
};

const ChainRow ROWS[] = {
    {"sound file of two clusters", {{2, 3}, {3, EOC}}, {{2, 1000, false}}, {CHAIN_SOUND}, {2}},
    {"free entry", {{2, 3}, {3, 0}}, {{2, 1000, false}}, {CHAIN_FREE}, {2}},
    {"bad cluster", {{2, BAD}}, {{2, 500, false}}, {CHAIN_BAD}, {1}},
    {"reserved value", {{2, 1}}, {{2, 500, false}}, {CHAIN_RESERVED}, {1}},
    {"link past the volume", {{2, 201}}, {{2, 500, false}}, {CHAIN_OUT_OF_RANGE}, {1}},
    {"first cluster past the volume", {}, {{250, 500, false}}, {CHAIN_OUT_OF_RANGE}, {0}},
    {"loop", {{2, 3}, {3, 2}}, {{2, 5000, false}}, {CHAIN_LOOP}, {2}},
    {"cross-link marks both", {{2, 3}, {3, EOC}, {5, 3}}, {{2, 1024, false}, {5, 1024, false}},
     {CHAIN_CROSS_LINKED, CHAIN_CROSS_LINKED}, {2, 1}},
    {"too short for its size", {{2, EOC}}, {{2, 513, false}}, {CHAIN_SHORT}, {1}},
    {"too long for its size", {{2, 3}, {3, EOC}}, {{2, 512, false}}, {CHAIN_LONG}, {2}},
    {"empty file without a cluster", {}, {{0, 0, false}}, {CHAIN_SOUND}, {0}},
    {"empty file with a cluster", {{2, EOC}}, {{2, 0, false}}, {CHAIN_LONG}, {1}},
    {"file of some size without a cluster", {}, {{0, 10, false}}, {CHAIN_SHORT}, {0}},
    {"folder of any length", {{2, 3}, {3, 4}, {4, EOC}}, {{2, 0, true}}, {CHAIN_SOUND}, {3}},
    {"folder without a cluster", {}, {{0, 0, true}}, {CHAIN_SHORT}, {0}},
    {"entry in a FAT sector that cannot be read", {{2, 130}}, {{2, 5000, false}}, {CHAIN_UNREADABLE}, {2}, true},
};

TEST(ChainJudgement, EachWayAChainCanFailIsTold) {
  for (const ChainRow& row : ROWS) {
    SCOPED_TRACE(row.name);
    const FatCopies copies = fat_of(row.entries, row.unreadable);
    ChainJudge judge;
    start_chain_judge(judge, whole_fat(copies, FAT_FIRST));
    for (const ChainStart& start : row.chains) judge_chain(judge, start);
    ASSERT_EQ(judge.results.size(), row.faults.size());
    for (std::size_t i = 0; i < row.faults.size(); ++i) {
      EXPECT_EQ(judge.results[i].fault, row.faults[i]) << "chain " << i;
      EXPECT_EQ(judge.results[i].length, row.lengths[i]) << "chain " << i;
    }
  }
}

}  // namespace
