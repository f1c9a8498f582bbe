#include "testapp/driver/open_device.h"

#include <mutex>
#include <string>
#include <utility>

#include "adapter/simulated_adapter.h"
#include "serial/tty_ports.h"
#include "testapp/driver/device_map.h"
#include "testapp/driver/device_name.h"

namespace quarnex {

namespace {

std::mutex& OpenerMutex() {
  static std::mutex mu;
  return mu;
}

// Guarded by OpenerMutex().
DeviceOpener& InstalledOpener() {
  static DeviceOpener opener;
  return opener;
}

// Why the calling thread's last open failed; "" when no reason is known.
thread_local std::string open_problem;

// The backend used when no opener is installed: the device the device map
// names for the port; else real serial ports when QUARNEX_TTY_DIR names a
// folder of links (README.md, "Real serial ports"); else the simulated
// adapter.
DeviceRef OpenDefaultBackend(std::string_view path) {
  int port_number = 0;
  if (!ParseDevicePath(path, &port_number)) return nullptr;
  // QUARNEX_TTY_FRAMED applies to mapped devices too.
  TtyBackendSettings tty;
  const bool tty_dir_set = TtyBackendFromEnvironment(&tty);
  const DeviceMap map = CurrentDeviceMap();
  if (const DeviceMapEntry* entry = FindDeviceEntry(map, port_number)) {
    // The simulated adapter's ports all have their loopback plug.
    if (entry->path == kSimulatedDevicePath) return OpenSimulatedPort(port_number);
    TtyOpenOptions options = TtyPortOptions(tty, port_number);
    options.internal_loopback = entry->internal_loopback;
    return OpenTtyPath(entry->path, options, &open_problem);
  }
  if (tty_dir_set) return OpenTtyPort(tty, port_number, &open_problem);
  return OpenSimulatedPort(port_number);
}

}  // namespace

DeviceRef OpenDevice(std::string_view path) {
  DeviceOpener opener;
  {
    std::lock_guard<std::mutex> lock(OpenerMutex());
    opener = InstalledOpener();
  }
  open_problem.clear();
  if (opener) return opener(path);
  return OpenDefaultBackend(path);
}

std::string TakeOpenProblem() { return std::exchange(open_problem, std::string()); }

void SetDeviceOpener(DeviceOpener opener) {
  std::lock_guard<std::mutex> lock(OpenerMutex());
  InstalledOpener() = std::move(opener);
}

}  // namespace quarnex
