#include "platform/scsi_generic_fake_tree.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace sgtest {
namespace fs = std::filesystem;
using namespace platform::sg;

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
  fs::create_directories(block_dir());
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

void FakeTree::add_holder(const std::string& node, const std::string& path_below_block,
                          const std::string& holder) {
  fs::create_directories(fs::path(class_dir()) / node / "device" / "block" / path_below_block /
                         "holders" / holder);
}

void FakeTree::add_loop(const std::string& loop, const std::string& number, const std::string& backing) {
  const fs::path dir = fs::path(block_dir()) / loop;
  write_file(dir / "dev", number + "\n");
  if (!backing.empty()) write_file(dir / "loop" / "backing_file", backing + "\n");
}

void FakeTree::write_mountinfo(const std::string& text) { write_file(mountinfo_path(), text); }

void FakeTree::write_swaps(const std::string& text) { write_file(swaps_path(), text); }

int ScriptedKernel::new_fd(const std::string& path) {
  const int fd = 100 + static_cast<int>(open_fds.size()) + closed;
  open_fds[fd] = path;
  return fd;
}

int ScriptedKernel::open_node(const std::string& path, bool writable) {
  auto it = nodes.find(path);
  if (it == nodes.end()) return -ENOENT;
  const int error = writable ? it->second.rdwr_error : it->second.rdonly_error;
  if (error != 0) return -error;
  return new_fd(path);
}

void ScriptedKernel::close_node(int fd) {
  open_fds.erase(fd);
  ++closed;
}

int ScriptedKernel::scsi_id(int fd, ScsiAddress& address) {
  address = nodes.at(open_fds.at(fd)).address;
  return 0;
}

SgOutcome ScriptedKernel::execute(int fd, SgCommand& command) {
  executed.push_back({fd, std::vector<std::uint8_t>(command.cdb, command.cdb + command.cdb_length),
                      command.direction, command.data_length, command.timeout_ms});
  if (command.direction == Direction::from_device) std::memset(command.data, fill, command.data_length);
  if (!next_sense.empty()) std::memcpy(command.sense, next_sense.data(), next_sense.size());
  SgOutcome out = next_outcome;
  out.sense_written = static_cast<std::uint8_t>(next_sense.size());
  return out;
}

int ScriptedKernel::claim_block(const std::string& path, const std::string& number) {
  claimed.push_back(path);
  if (auto error = claim_errors.find(path); error != claim_errors.end()) return -error->second;
  auto device = block_devices.find(path);
  if (device == block_devices.end()) return -ENOENT;
  if (device->second != number) return -ENODEV;
  return new_fd(path);
}

int ScriptedKernel::reread_partitions(int fd) {
  auto open = open_fds.find(fd);
  rereads.emplace_back(open == open_fds.end() ? "closed" : open->second, executed.size());
  return -reread_error;
}

std::string ScriptedKernel::block_number(const std::string& path) {
  auto device = block_devices.find(path);
  return device == block_devices.end() ? std::string() : device->second;
}

}  // namespace sgtest
