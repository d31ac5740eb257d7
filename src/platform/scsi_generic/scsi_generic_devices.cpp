#include "platform/scsi_generic/scsi_generic_devices.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <sstream>

#include "platform/scsi_generic/scsi_generic_sysfs.h"

namespace platform::sg {
namespace {

bool permission_error(int error) { return error == EACCES || error == EPERM; }

// Only what an ASPI target id can name: channel 0, LUN 0, ids 0 to 7.
bool addressable(const ScsiAddress& address) {
  return address.channel == 0 && address.lun == 0 && address.id >= 0 && address.id <= 7;
}

struct OpenResult {
  int fd = -1;
  bool writable = false;
  int error = 0;
};

// Read-write first; a node we may only read is still served, with its writes
// refused.
OpenResult open_device(SgDeviceIo& io, const std::string& path) {
  OpenResult result;
  int fd = io.open_node(path, true);
  if (fd >= 0) return {fd, true, 0};
  if (permission_error(-fd) || -fd == EROFS) {
    const int read_only = io.open_node(path, false);
    if (read_only >= 0) return {read_only, false, 0};
    fd = permission_error(-read_only) ? read_only : fd;
  }
  result.error = -fd;
  return result;
}

std::string denied_line(const std::vector<std::string>& paths) {
  std::string line = "tessaly: no permission to open ";
  for (std::size_t i = 0; i < paths.size(); ++i) line += (i ? ", " : "") + paths[i];
  return line + ": " + permission_advice(paths.front(), paths.size() > 1, "the SCSI generic devices");
}

void tell(const SgEnvironment& env, const std::string& line) {
  if (env.tell_user) env.tell_user(line);
}

// Opens one node and asks for its address; adds it to `devices` when usable.
void place_node(const SgEnvironment& env, const std::string& node, std::vector<SgDevice>& devices,
                std::vector<std::string>& denied) {
  const std::string path = env.dev_dir + "/" + node;
  OpenResult opened = open_device(*env.io, path);
  if (opened.fd < 0) {
    if (permission_error(opened.error)) {
      denied.push_back(path);
    } else {
      tell(env, "tessaly: cannot open " + path + ": " + std::strerror(opened.error));
    }
    return;
  }
  SgDevice device;
  device.node = node;
  device.fd = opened.fd;
  device.writable = opened.writable;
  const int error = env.io->scsi_id(opened.fd, device.address);
  if (error != 0) {
    tell(env, "tessaly: " + path + " does not answer as a SCSI generic device: " +
                  std::strerror(-error));
    env.io->close_node(opened.fd);
    return;
  }
  if (!addressable(device.address)) {
    env.io->close_node(opened.fd);
    return;
  }
  devices.push_back(device);
}

}  // namespace

std::string group_name(const std::string& group_file_text, unsigned gid) {
  std::istringstream lines(group_file_text);
  std::string line;
  while (std::getline(lines, line)) {
    // name:password:gid:members
    const auto first = line.find(':');
    const auto second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const auto third = line.find(':', second + 1);
    if (line.substr(second + 1, third - second - 1) == std::to_string(gid)) {
      return line.substr(0, first);
    }
  }
  return std::to_string(gid);
}

std::string permission_advice(const std::string& path, bool several, const std::string& devices) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "run as root, or join the group that owns " + devices;
  return "run as root, or join the group '" + group_name(read_text_file("/etc/group"), info.st_gid) +
         "' that owns " + (several ? "them" : "it");
}

int assign_adapters(std::vector<SgDevice>& devices) {
  std::set<int> hosts;
  for (const auto& device : devices) hosts.insert(device.address.host);
  for (auto& device : devices) {
    device.adapter = static_cast<int>(std::distance(hosts.begin(), hosts.find(device.address.host)));
  }
  return static_cast<int>(hosts.size());
}

SgDeviceTable scan_devices(const SgEnvironment& env) {
  SgDeviceTable table;
  auto nodes = list_sg_nodes(env.class_dir);
  if (!nodes) return table;
  table.driver_present = true;
  std::vector<std::string> denied;
  for (const auto& node : *nodes) place_node(env, node, table.devices, denied);
  if (!denied.empty()) tell(env, denied_line(denied));
  table.adapter_count = assign_adapters(table.devices);
  return table;
}

SgDevice* find_device(SgDeviceTable& table, int adapter, int target) {
  for (auto& device : table.devices) {
    if (device.adapter == adapter && device.address.id == target) return &device;
  }
  return nullptr;
}

void close_devices(SgDeviceTable& table, SgDeviceIo& io) {
  for (auto& device : table.devices) {
    if (device.fd >= 0) io.close_node(device.fd);
    device.fd = -1;
    if (device.read_fd >= 0) io.close_node(device.read_fd);
    device.read_fd = -1;
    for (const BlockClaim& claim : device.claims) io.close_node(claim.fd);
    device.claims.clear();
  }
}

}  // namespace platform::sg
