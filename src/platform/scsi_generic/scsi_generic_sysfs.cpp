#include "platform/scsi_generic/scsi_generic_sysfs.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace platform::sg {
namespace {

namespace fs = std::filesystem;

std::optional<int> node_number(const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "sg") != 0) return std::nullopt;
  int number = 0;
  const char* first = name.data() + 2;
  const char* last = name.data() + name.size();
  auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc{} || end != last) return std::nullopt;
  return number;
}

std::string first_line(const std::string& path) {
  std::string text = read_text_file(path);
  return text.substr(0, text.find('\n'));
}

std::vector<std::string> sorted_entries(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

BlockNode block_node_at(const fs::path& dir, bool partition) {
  BlockNode node;
  node.name = dir.filename().string();
  node.number = first_line((dir / "dev").string());
  node.partition = partition;
  node.holders = sorted_entries(dir / "holders");
  return node;
}

// Partitions are the subdirectories of a disk that carry a "partition" file.
void add_partitions(const fs::path& disk, std::vector<BlockNode>& nodes) {
  std::error_code error;
  std::vector<BlockNode> parts;
  for (const auto& entry : fs::directory_iterator(disk, error)) {
    std::error_code ignored;
    if (entry.is_directory(ignored) && fs::exists(entry.path() / "partition", ignored)) {
      parts.push_back(block_node_at(entry.path(), true));
    }
  }
  std::sort(parts.begin(), parts.end(),
            [](const BlockNode& a, const BlockNode& b) { return a.name < b.name; });
  nodes.insert(nodes.end(), parts.begin(), parts.end());
}

// mountinfo and /proc/swaps escape blanks and a few other characters as \ooo.
std::string unescape_path(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const auto digits = text.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace

std::string read_text_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<std::vector<std::string>> list_sg_nodes(const std::string& class_dir) {
  std::error_code error;
  fs::directory_iterator it(class_dir, error);
  if (error) return std::nullopt;
  std::vector<std::pair<int, std::string>> found;
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (auto number = node_number(name)) found.emplace_back(*number, name);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& [number, name] : found) names.push_back(name);
  return names;
}

std::optional<ScsiAddress> parse_hctl(std::string_view text) {
  int parts[4] = {};
  const char* p = text.data();
  const char* last = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    auto [end, error] = std::from_chars(p, last, parts[i]);
    if (error != std::errc{} || parts[i] < 0) return std::nullopt;
    if (i < 3) {
      if (end == last || *end != ':') return std::nullopt;
      ++end;
    } else if (end != last) {
      return std::nullopt;
    }
    p = end;
  }
  return ScsiAddress{parts[0], parts[1], parts[2], parts[3]};
}

std::optional<ScsiAddress> sysfs_address(const std::string& class_dir, const std::string& node) {
  std::error_code error;
  const fs::path target = fs::read_symlink(fs::path(class_dir) / node / "device", error);
  if (error) return std::nullopt;
  return parse_hctl(target.filename().string());
}

std::vector<BlockNode> block_nodes(const std::string& class_dir, const std::string& node) {
  std::vector<BlockNode> nodes;
  std::error_code error;
  const fs::path block_dir = fs::path(class_dir) / node / "device" / "block";
  std::vector<fs::path> disks;
  for (const auto& entry : fs::directory_iterator(block_dir, error)) disks.push_back(entry.path());
  std::sort(disks.begin(), disks.end());
  for (const auto& disk : disks) {
    nodes.push_back(block_node_at(disk, false));
    add_partitions(disk, nodes);
  }
  return nodes;
}

std::optional<unsigned> queue_max_sectors_kb(const std::string& class_dir, const std::string& node) {
  const std::vector<BlockNode> nodes = block_nodes(class_dir, node);
  if (nodes.empty()) return std::nullopt;
  const fs::path path = fs::path(class_dir) / node / "device" / "block" / nodes.front().name / "queue" / "max_sectors_kb";
  const std::string text = first_line(path.string());
  unsigned kb = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), kb);
  if (error != std::errc{} || end != text.data() + text.size() || kb == 0) return std::nullopt;
  return kb;
}

std::optional<std::string> mount_point_of(std::string_view mountinfo, const std::string& number,
                                          const std::string& source) {
  // Each line: mount id, parent id, major:minor, root, mount point, options,
  // optional fields, "-", file system type, mount source, super options.
  std::istringstream lines{std::string(mountinfo)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point, field, type, mounted;
    if (!(fields >> id >> parent >> device >> root >> point)) continue;
    while (fields >> field && field != "-") {
    }
    fields >> type >> mounted;
    if (device == number || (!source.empty() && unescape_path(mounted) == source)) {
      return unescape_path(point);
    }
  }
  return std::nullopt;
}

std::vector<std::string> swap_files(std::string_view swaps) {
  // A heading line, then: file name, type, size, used, priority.
  std::istringstream lines{std::string(swaps)};
  std::string line;
  std::vector<std::string> files;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string file;
    if (fields >> file) files.push_back(unescape_path(file));
  }
  return files;
}

std::vector<LoopDevice> loop_devices(const std::string& block_dir) {
  std::vector<LoopDevice> loops;
  for (const auto& name : sorted_entries(block_dir)) {
    const fs::path dir = fs::path(block_dir) / name;
    // loop/backing_file exists only while the loop device is bound.
    const std::string backing = first_line((dir / "loop" / "backing_file").string());
    if (!backing.empty()) loops.push_back({name, first_line((dir / "dev").string()), backing});
  }
  return loops;
}

bool device_leaving(const std::string& class_dir, const std::string& node) {
  const std::string state = first_line((fs::path(class_dir) / node / "device" / "state").string());
  return state == "cancel" || state == "deleted" || state == "offline" || state == "transport-offline";
}

}  // namespace platform::sg
