#include "platform/scsi_generic_fake_tree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace sgtest {
namespace fs = std::filesystem;

namespace {
void write_file(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}
}  // namespace

FakeTree::FakeTree() {
  std::string pattern = (fs::temp_directory_path() / "sgtree-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  root_ = pattern;
  fs::create_directories(class_dir());
}

FakeTree::~FakeTree() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

// As in sysfs: the node's "device" is a link into the device tree, whose
// last component is the H:C:T:L name.
void FakeTree::add_node(const std::string& node, const std::string& hctl) {
  const fs::path device = fs::path(root_) / "devices" / ("host" + hctl.substr(0, hctl.find(':'))) / hctl;
  fs::create_directories(device);
  fs::create_directories(fs::path(class_dir()) / node);
  fs::create_directory_symlink(device, fs::path(class_dir()) / node / "device");
}

void FakeTree::add_disk(const std::string& node, const std::string& disk, const std::string& number,
                        const std::string& max_sectors_kb) {
  const fs::path dir = fs::path(class_dir()) / node / "device" / "block" / disk;
  write_file(dir / "dev", number + "\n");
  if (!max_sectors_kb.empty()) write_file(dir / "queue" / "max_sectors_kb", max_sectors_kb + "\n");
  fs::create_directories(dir / "holders");
}

void FakeTree::add_partition(const std::string& node, const std::string& disk, const std::string& part,
                             const std::string& number) {
  const fs::path dir = fs::path(class_dir()) / node / "device" / "block" / disk / part;
  write_file(dir / "dev", number + "\n");
  write_file(dir / "partition", "1\n");
  fs::create_directories(dir / "holders");
}

void FakeTree::add_holder(const std::string& node, const std::string& path_below_block) {
  fs::create_directories(fs::path(class_dir()) / node / "device" / "block" / path_below_block /
                         "holders" / "dm-0");
}

void FakeTree::write_mountinfo(const std::string& text) { write_file(mountinfo_path(), text); }

}  // namespace sgtest
