#include "testapp/driver/backend_table.h"

#include <algorithm>
#include <utility>

#include "testapp/driver/device_name.h"

namespace quarnex {

const Backend* FindBackend(const BackendTable& table, const DeviceMapEntry* entry) {
  for (const Backend& backend : table) {
    if (!backend.takes || backend.takes(entry)) return &backend;
  }
  return nullptr;
}

OpenResult OpenFromTable(const BackendTable& table, const DeviceMap& map, std::string_view path) {
  int port = 0;
  if (!ParseDevicePath(path, &port)) return {};
  const DeviceMapEntry* entry = FindDeviceEntry(map, port);
  const Backend* backend = FindBackend(table, entry);
  if (backend == nullptr || !backend->open) return {};
  OpenResult result = backend->open(PortRequest{port, path, entry});
  // What was tried is only told for an open that failed.
  if (result.device != nullptr) {
    result.tried.clear();
    result.reason.clear();
  }
  return result;
}

std::vector<ListedDevice> ListFromTable(const BackendTable& table, const SerialRoots& roots) {
  std::vector<ListedDevice> found;
  for (const Backend& backend : table) {
    if (!backend.list) continue;
    for (ListedDevice& device : backend.list(roots)) {
      const bool listed = std::any_of(found.begin(), found.end(), [&device](const ListedDevice& d) {
        return d.path == device.path;
      });
      if (!listed) found.push_back(std::move(device));
    }
  }
  return found;
}

}  // namespace quarnex
