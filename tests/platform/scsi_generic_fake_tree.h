// A throw-away sysfs tree of SCSI generic devices, with block devices,
// partitions, holders and loop devices, and a scripted kernel, for the
// tests of the SG_IO backend.
#pragma once

#include <cerrno>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/scsi_generic/scsi_generic_types.h"

namespace sgtest {

class FakeTree {
 public:
  FakeTree();
  ~FakeTree();
  FakeTree(const FakeTree&) = delete;
  FakeTree& operator=(const FakeTree&) = delete;

  std::string class_dir() const { return root_ + "/class/scsi_generic"; }
  std::string block_dir() const { return root_ + "/block"; }
  std::string mountinfo_path() const { return root_ + "/mountinfo"; }
  std::string swaps_path() const { return root_ + "/swaps"; }

  // /class/scsi_generic/NODE with its device link named HCTL ("1:0:0:0").
  void add_node(const std::string& node, const std::string& hctl);
  // A disk behind NODE ("sdb", "8:16"), with its queue's max_sectors_kb
  // when one is given.
  void add_disk(const std::string& node, const std::string& disk, const std::string& number,
                const std::string& max_sectors_kb = "");
  void add_partition(const std::string& node, const std::string& disk, const std::string& part,
                     const std::string& number);
  // Another driver's device (device mapper "dm-0") holding DISK or one of
  // its partitions ("sdb/sdb1").
  void add_holder(const std::string& node, const std::string& path_below_block,
                  const std::string& holder = "dm-0");
  // A loop device ("loop0", "7:0") bound to BACKING; without BACKING, one
  // that is not bound.
  void add_loop(const std::string& loop, const std::string& number, const std::string& backing);
  void write_mountinfo(const std::string& text);
  void write_swaps(const std::string& text);

 private:
  std::string root_;
};

struct FakeNode {
  platform::sg::ScsiAddress address;
  int rdwr_error = 0;      // errno of a read-write open, 0 to succeed
  int rdonly_error = 0;    // errno of a read-only open
};

struct Executed {
  int fd;
  std::vector<std::uint8_t> cdb;
  platform::sg::Direction direction;
  std::uint32_t length;
  unsigned timeout_ms;
};

// The kernel as the tests script it: sg nodes by path, block device nodes by
// path with their numbers, the errno a claim of one of them meets, and a
// record of what was opened, claimed and executed.
class ScriptedKernel final : public platform::sg::SgDeviceIo {
 public:
  std::map<std::string, FakeNode> nodes;          // sg nodes by path
  std::map<std::string, std::string> block_devices;  // "major:minor" by path
  std::map<std::string, int> claim_errors;        // by path
  std::map<int, std::string> open_fds;
  std::vector<std::string> claimed;               // every claim made, in order
  std::vector<Executed> executed;
  // Each BLKRRPART: the block device asked ("closed" when its descriptor
  // was no longer open), with the count of commands executed before it.
  std::vector<std::pair<std::string, std::size_t>> rereads;
  int reread_error = 0;  // errno of BLKRRPART, 0 to succeed
  platform::sg::SgOutcome next_outcome;
  std::vector<std::uint8_t> next_sense;
  std::uint8_t fill = 0;
  int closed = 0;
  int reserved = -ENOTTY;  // what SG_GET_RESERVED_SIZE answers

  int open_node(const std::string& path, bool writable) override;
  void close_node(int fd) override;
  int scsi_id(int fd, platform::sg::ScsiAddress& address) override;
  platform::sg::SgOutcome execute(int fd, platform::sg::SgCommand& command) override;
  int claim_block(const std::string& path, const std::string& number) override;
  std::string block_number(const std::string& path) override;
  int reread_partitions(int fd) override;
  int reserved_size(int) override { return reserved; }
  std::string path_of(int fd) const { return open_fds.at(fd); }

 private:
  int new_fd(const std::string& path);
};

}  // namespace sgtest
