// Opening a port by its device path, through the backend table and the
// device map a program's main() chose.
//
// Each program's main() fills a DeviceOpener (testapp/wiring has the table
// both use) and hands it down in its run context; tests fill their own with
// fakes. This layer knows no backend.
#ifndef QUARNEX_DRIVER_OPEN_DEVICE_H_
#define QUARNEX_DRIVER_OPEN_DEVICE_H_

#include <mutex>
#include <string_view>
#include <vector>

#include "testapp/driver/backend_table.h"
#include "testapp/driver/device_map.h"
#include "testapp/driver/serial_discovery.h"

namespace quarnex {

// The backend table and the device map of one program.
//
// Thread-safety: SetMap, Map and Open may be called from any thread; a map
// set while ports open applies to the opens that follow. SetBackends is
// not to be called while another thread opens a device or lists devices.
class DeviceOpener {
 public:
  // No backend: no port opens until SetBackends.
  DeviceOpener() = default;
  DeviceOpener(const DeviceOpener&) = delete;
  DeviceOpener& operator=(const DeviceOpener&) = delete;

  void SetBackends(BackendTable table);

  // The map the table's entries are chosen by; empty at first.
  void SetMap(DeviceMap map);
  DeviceMap Map() const;

  // Opens "\\.\QuarnexNN" for reading and writing, exclusively, for
  // overlapped transfers (backend_table.h, OpenFromTable). A null device
  // when the port does not exist, is already open, the path is not a port
  // name, or no backend takes it; then what was tried and why.
  OpenResult Open(std::string_view path) const;

  // The devices the table's backends find under `roots`, described for the
  // Port... dialog.
  std::vector<ListedDevice> List(const SerialRoots& roots) const;

 private:
  BackendTable table_;
  mutable std::mutex map_mutex_;
  DeviceMap map_;  // guarded by map_mutex_
};

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_OPEN_DEVICE_H_
