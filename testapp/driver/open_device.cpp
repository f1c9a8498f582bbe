#include "testapp/driver/open_device.h"

#include <utility>

namespace quarnex {

void DeviceOpener::SetBackends(BackendTable table) { table_ = std::move(table); }

void DeviceOpener::SetMap(DeviceMap map) {
  std::lock_guard<std::mutex> lock(map_mutex_);
  map_ = std::move(map);
}

DeviceMap DeviceOpener::Map() const {
  std::lock_guard<std::mutex> lock(map_mutex_);
  return map_;
}

// The map is copied so that a slow open (a TTY) holds no lock.
OpenResult DeviceOpener::Open(std::string_view path) const {
  return OpenFromTable(table_, Map(), path);
}

std::vector<ListedDevice> DeviceOpener::List(const SerialRoots& roots) const {
  return ListFromTable(table_, roots);
}

}  // namespace quarnex
