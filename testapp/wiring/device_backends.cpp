#include "testapp/wiring/device_backends.h"

#include <string>
#include <utility>

#include "adapter/simulated_adapter.h"
#include "serial/tty_ports.h"
#include "testapp/driver/device_map.h"
#include "testapp/driver/device_name.h"

namespace quarnex {

namespace {

// The simulated adapter's port, with what was tried and why it failed
// for the Start to tell.
DeviceRef OpenSimulated(int port_number) {
  std::string target, problem;
  DeviceRef device = OpenSimulatedPort(port_number, &target, &problem);
  if (device == nullptr) {
    NoteOpenTarget(std::move(target));
    NoteOpenProblem(std::move(problem));
  }
  return device;
}

DeviceRef OpenStandardDevice(std::string_view path) {
  int port_number = 0;
  if (!ParseDevicePath(path, &port_number)) return nullptr;
  // QUARNEX_TTY_FRAMED applies to mapped devices too.
  TtyBackendSettings tty;
  const bool tty_dir_set = TtyBackendFromEnvironment(&tty);
  const DeviceMap map = CurrentDeviceMap();
  std::string problem;
  std::string target;
  DeviceRef device;
  if (const DeviceMapEntry* entry = FindDeviceEntry(map, port_number)) {
    // The simulated adapter's ports all have their loopback plug.
    if (entry->path == kSimulatedDevicePath) return OpenSimulated(port_number);
    TtyOpenOptions options = TtyPortOptions(tty, port_number);
    options.internal_loopback = entry->internal_loopback;
    target = entry->path;
    device = OpenTtyPath(entry->path, options, &problem);
  } else if (tty_dir_set) {
    target = tty.dir + "/" + TtyLinkName(port_number);
    device = OpenTtyPort(tty, port_number, &problem);
  } else {
    return OpenSimulated(port_number);
  }
  if (device == nullptr) {
    NoteOpenTarget(std::move(target));
    NoteOpenProblem(std::move(problem));
  }
  return device;
}

}  // namespace

DeviceOpener StandardDeviceOpener() { return OpenStandardDevice; }

}  // namespace quarnex
