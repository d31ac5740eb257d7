// A throw-away sysfs tree of SCSI generic devices, with block devices,
// partitions and holders, for the tests of the SG_IO backend.
#pragma once

#include <string>

namespace sgtest {

class FakeTree {
 public:
  FakeTree();
  ~FakeTree();
  FakeTree(const FakeTree&) = delete;
  FakeTree& operator=(const FakeTree&) = delete;

  std::string class_dir() const { return root_ + "/class/scsi_generic"; }
  std::string mountinfo_path() const { return root_ + "/mountinfo"; }

  // /class/scsi_generic/NODE with its device link named HCTL ("1:0:0:0").
  void add_node(const std::string& node, const std::string& hctl);
  // A disk behind NODE ("sdb", "8:16"), with its queue's max_sectors_kb
  // when one is given.
  void add_disk(const std::string& node, const std::string& disk, const std::string& number,
                const std::string& max_sectors_kb = "");
  void add_partition(const std::string& node, const std::string& disk, const std::string& part,
                     const std::string& number);
  // Another driver (device mapper) holding DISK or one of its partitions.
  void add_holder(const std::string& node, const std::string& path_below_block);
  void write_mountinfo(const std::string& text);

 private:
  std::string root_;
};

}  // namespace sgtest
