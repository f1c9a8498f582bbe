#include "testapp/driver/device_map.h"

#include <algorithm>
#include <charconv>

namespace quarnex {

namespace {

constexpr int kMaxMappedPort = 999;

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

}  // namespace

bool ParseDeviceEntry(std::string_view text, DeviceMapEntry* entry, std::string* error) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    *error = "expected N=PATH";
    return false;
  }
  const std::string_view number = text.substr(0, equals);
  int port = -1;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), port);
  if (number.empty() || ec != std::errc() || end != number.data() + number.size() || port < 0 ||
      port > kMaxMappedPort) {
    *error = "expected a port number 0 to 999 before '='";
    return false;
  }
  std::string_view path = text.substr(equals + 1);
  const bool loop = path.ends_with(kInternalLoopbackSuffix);
  if (loop) path.remove_suffix(kInternalLoopbackSuffix.size());
  if (path.empty()) {
    *error = "expected a device path after '='";
    return false;
  }
  if (path.size() > kMaxDeviceMapPath) {
    *error = "the device path is longer than 4095 characters";
    return false;
  }
  if (HasControlCharacter(path)) {
    *error = "the device path holds a control character";
    return false;
  }
  *entry = DeviceMapEntry{port, std::string(path), loop};
  return true;
}

std::string FormatDeviceEntry(const DeviceMapEntry& entry) {
  std::string text = std::to_string(entry.port) + "=" + entry.path;
  if (entry.internal_loopback) text += kInternalLoopbackSuffix;
  return text;
}

void PutDeviceEntry(DeviceMap* map, DeviceMapEntry entry) {
  auto at = std::lower_bound(map->entries.begin(), map->entries.end(), entry.port,
                             [](const DeviceMapEntry& e, int port) { return e.port < port; });
  if (at != map->entries.end() && at->port == entry.port) {
    *at = std::move(entry);
  } else {
    map->entries.insert(at, std::move(entry));
  }
}

const DeviceMapEntry* FindDeviceEntry(const DeviceMap& map, int port) {
  auto at = std::lower_bound(map.entries.begin(), map.entries.end(), port,
                             [](const DeviceMapEntry& e, int p) { return e.port < p; });
  return at != map.entries.end() && at->port == port ? &*at : nullptr;
}

std::string FormatDeviceMap(const DeviceMap& map) {
  std::string text;
  for (const DeviceMapEntry& entry : map.entries) text += FormatDeviceEntry(entry) + "\n";
  return text;
}

DeviceMap ParseDeviceMap(std::string_view text) {
  DeviceMap map;
  size_t lines = 0;
  while (!text.empty() && lines < kMaxDeviceMapEntries) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lines;
    DeviceMapEntry entry;
    std::string ignored;
    if (ParseDeviceEntry(line, &entry, &ignored)) PutDeviceEntry(&map, std::move(entry));
  }
  return map;
}

}  // namespace quarnex
