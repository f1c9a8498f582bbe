#include "testapp/wiring/device_backends.h"

#include <string>

#include "adapter/simulated_adapter.h"
#include "serial/tty_ports.h"
#include "testapp/driver/device_map.h"
#include "testapp/driver/serial_discovery.h"

namespace quarnex {

namespace {

// The simulated adapter's port, with what was tried and why it failed.
OpenResult OpenSimulated(const PortRequest& request) {
  OpenResult result;
  result.device = OpenSimulatedPort(request.port, &result.tried, &result.reason);
  return result;
}

bool MappedToSimulated(const DeviceMapEntry* entry) {
  return entry != nullptr && entry->path == kSimulatedDevicePath;
}

bool Mapped(const DeviceMapEntry* entry) { return entry != nullptr; }

bool TtyDirChosen(const DeviceMapEntry* entry) {
  TtyBackendSettings tty;
  return entry == nullptr && TtyBackendFromEnvironment(&tty);
}

// The device the map names; QUARNEX_TTY_FRAMED applies to it too.
OpenResult OpenMappedTty(const PortRequest& request) {
  TtyBackendSettings tty;
  TtyBackendFromEnvironment(&tty);
  TtyOpenOptions options = TtyPortOptions(tty, request.port);
  options.internal_loopback = request.entry->internal_loopback;
  OpenResult result;
  result.tried = request.entry->path;
  result.device = OpenTtyPath(request.entry->path, options, &result.reason);
  return result;
}

// QUARNEX_TTY_DIR's link of the port.
OpenResult OpenLinkedTty(const PortRequest& request) {
  TtyBackendSettings tty;
  TtyBackendFromEnvironment(&tty);
  OpenResult result;
  result.tried = tty.dir + "/" + TtyLinkName(request.port);
  result.device = OpenTtyPort(tty, request.port, &result.reason);
  return result;
}

}  // namespace

BackendTable StandardBackends() {
  return {
      // The simulated adapter's ports all have their loopback plug.
      {.name = "simulated adapter (mapped)", .takes = MappedToSimulated, .open = OpenSimulated},
      {.name = "serial device (mapped)",
       .takes = Mapped,
       .open = OpenMappedTty,
       .list = [](const SerialRoots& roots) { return ListSerialDevices(roots); }},
      {.name = "serial links (QUARNEX_TTY_DIR)", .takes = TtyDirChosen, .open = OpenLinkedTty},
      {.name = "simulated adapter", .open = OpenSimulated},
  };
}

}  // namespace quarnex
