// The table of device backends a program opens its ports through.
//
// Each entry says which ports it takes (by the port's device-map entry, or
// by the absence of one), how it opens one and what it offers the Port...
// dialog. The programs' wiring (testapp/wiring) fills one table per
// platform; the lookup below is the only dispatch, so a new backend is its
// own folder and one entry in that table.
//
// Thread-safety: the records are plain values. OpenFromTable and
// ListFromTable call the entries' functions on the caller's thread; an
// entry's functions must be safe on any thread that opens ports.
#ifndef QUARNEX_DRIVER_BACKEND_TABLE_H_
#define QUARNEX_DRIVER_BACKEND_TABLE_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/driver/device.h"
#include "testapp/driver/device_map.h"
#include "testapp/driver/serial_discovery.h"

namespace quarnex {

// What opening a port gave: the device, or null with what was tried (the
// device the port maps to: a TTY path, a COM port, "simulated adapter port
// 8"; "" when nothing was named) and why it failed (e.g. "in use (locked
// by another tester or program)"; "" when the port is simply not there).
// tried and reason are empty when device is set.
struct OpenResult {
  DeviceRef device;
  std::string tried;
  std::string reason;
};

// One port to open: its number, its device path "\\.\QuarnexNN", and its
// device-map entry (null when the map leaves the port out). The pointers
// live for the call.
struct PortRequest {
  int port = 0;
  std::string_view path;
  const DeviceMapEntry* entry = nullptr;
};

struct Backend {
  // For messages and tests: "simulated adapter", "serial (mapped)", ...
  std::string name;
  // Whether this backend opens a port with map entry `entry` (null: the map
  // leaves the port out). An empty function takes every port.
  std::function<bool(const DeviceMapEntry* entry)> takes = nullptr;
  // Opens the port; never throws.
  std::function<OpenResult(const PortRequest& request)> open = nullptr;
  // The devices of this kind on the machine, looked for under `roots`, each
  // described as the Port... dialog lists it; an empty function lists none.
  std::function<std::vector<ListedDevice>(const SerialRoots& roots)> list = nullptr;
};

// Earlier entries win: the first entry that takes a port opens it.
using BackendTable = std::vector<Backend>;

// The entry of `table` that takes a port with map entry `entry`; null when
// none does.
const Backend* FindBackend(const BackendTable& table, const DeviceMapEntry* entry);

// Opens `path` through the entry that takes its port under `map`. A path
// that is not a port name, or a port no entry takes, opens nothing and
// names nothing.
OpenResult OpenFromTable(const BackendTable& table, const DeviceMap& map, std::string_view path);

// Every entry's devices under `roots`, in table order, each path once.
std::vector<ListedDevice> ListFromTable(const BackendTable& table, const SerialRoots& roots);

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_BACKEND_TABLE_H_
