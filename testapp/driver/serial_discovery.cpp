#include "testapp/driver/serial_discovery.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>
#include <tuple>

namespace quarnex {

namespace {

namespace fs = std::filesystem;

// The node names discovery lists, in the order the kinds are listed.
struct NodePattern {
  std::string_view prefix;
  SerialDevice::Kind kind;
};
constexpr NodePattern kNodePatterns[] = {
    {"ttyS", SerialDevice::Kind::kUart},
    {"ttyUSB", SerialDevice::Kind::kUsb},
    {"ttyACM", SerialDevice::Kind::kAcm},
};

// More digits than any tty number has; keeps the number within long.
constexpr size_t kMaxNodeDigits = 9;

// The number of a node called prefix + digits, or -1 for any other name.
long NodeNumber(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return -1;
  const std::string_view digits = name.substr(prefix.size());
  if (digits.empty() || digits.size() > kMaxNodeDigits) return -1;
  long number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
  }
  return number;
}

// Whether the kernel found a UART behind ttyS<N>: its type file reads a
// number other than 0 (PORT_UNKNOWN). A missing or empty file says no.
bool HasUart(const fs::path& sys, const std::string& name) {
  std::ifstream type(sys / "class" / "tty" / name / "type");
  std::string text;
  if (!(type >> text)) return false;
  return text != "0";
}

// The path with every link resolved, for telling two names of one node
// apart; the path itself when it cannot be resolved.
std::string Resolved(const fs::path& path) {
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(path, error);
  return error ? path.string() : resolved.string();
}

// The by-id links whose target exists, by name; their resolved nodes go to
// *linked.
std::vector<SerialDevice> FindByIdLinks(const fs::path& dev, std::set<std::string>* linked) {
  std::vector<SerialDevice> devices;
  std::error_code error;
  for (fs::directory_iterator it(dev / "serial" / "by-id", error), end; !error && it != end;
       it.increment(error)) {
    const fs::path& link = it->path();
    std::error_code ignored;
    if (!it->is_symlink(ignored) || !fs::exists(link, ignored)) continue;
    const fs::path target = fs::read_symlink(link, ignored);
    if (ignored) continue;
    const fs::path node =
        (target.is_absolute() ? target : link.parent_path() / target).lexically_normal();
    devices.push_back(
        {SerialDevice::Kind::kById, link.string(), link.filename().string(), node.string()});
    linked->insert(Resolved(link));
  }
  std::sort(devices.begin(), devices.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return a.name < b.name; });
  return devices;
}

}  // namespace

std::vector<SerialDevice> FindSerialDevices(const SerialRoots& roots) {
  const fs::path dev(roots.dev);
  std::set<std::string> linked;
  std::vector<SerialDevice> devices = FindByIdLinks(dev, &linked);

  struct Node {
    size_t pattern;
    long number;
    SerialDevice device;
  };
  std::vector<Node> nodes;
  std::error_code error;
  for (fs::directory_iterator it(dev, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    for (size_t p = 0; p < std::size(kNodePatterns); ++p) {
      const long number = NodeNumber(name, kNodePatterns[p].prefix);
      if (number < 0) continue;
      const SerialDevice::Kind kind = kNodePatterns[p].kind;
      if (kind == SerialDevice::Kind::kUart && !HasUart(roots.sys, name)) break;
      if (linked.count(Resolved(it->path())) != 0) break;
      const std::string path = it->path().string();
      nodes.push_back({p, number, {kind, path, name, path}});
      break;
    }
  }
  std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) {
    return std::tie(a.pattern, a.number) < std::tie(b.pattern, b.number);
  });
  for (Node& node : nodes) devices.push_back(std::move(node.device));
  return devices;
}

bool SerialPathPresent(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

ListedDevice DescribeSerialDevice(const SerialDevice& device) {
  if (device.kind == SerialDevice::Kind::kById) {
    return {device.name + " (" + device.node + ")", device.path,
            device.path + "\nleads to " + device.node + " now"};
  }
  return {device.path, device.path, device.path};
}

std::vector<ListedDevice> ListSerialDevices(const SerialRoots& roots) {
  std::vector<ListedDevice> listed;
  for (const SerialDevice& device : FindSerialDevices(roots)) {
    listed.push_back(DescribeSerialDevice(device));
  }
  return listed;
}

}  // namespace quarnex
