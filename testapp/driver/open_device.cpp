#include "testapp/driver/open_device.h"

#include <mutex>

#include "adapter/simulated_adapter.h"
#include "serial/tty_ports.h"
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

// The backend used when no opener is installed: real serial ports when
// QUARNEX_TTY_DIR names a folder of links (serial/README.md), else the
// simulated adapter.
DeviceRef OpenDefaultBackend(std::string_view path) {
  int port_number = 0;
  if (!ParseDevicePath(path, &port_number)) return nullptr;
  TtyBackendSettings tty;
  if (TtyBackendFromEnvironment(&tty)) return OpenTtyPort(tty, port_number);
  return OpenSimulatedPort(port_number);
}

}  // namespace

DeviceRef OpenDevice(std::string_view path) {
  DeviceOpener opener;
  {
    std::lock_guard<std::mutex> lock(OpenerMutex());
    opener = InstalledOpener();
  }
  if (opener) return opener(path);
  return OpenDefaultBackend(path);
}

void SetDeviceOpener(DeviceOpener opener) {
  std::lock_guard<std::mutex> lock(OpenerMutex());
  InstalledOpener() = std::move(opener);
}

}  // namespace quarnex
