// The opener of the Windows programs; device_backends.h tells the rules.
// On Windows a port the device map names opens through the Win32 backend
// (win32/win32_device.h), and QUARNEX_ADAPTER_DRIVER=1 sends every other
// port to the adapter's own driver in place of the simulated adapter.
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "adapter/simulated_adapter.h"
#include "testapp/driver/device_map.h"
#include "testapp/driver/device_name.h"
#include "testapp/wiring/device_backends.h"
#include "win32/win32_device.h"

namespace quarnex {

namespace {

constexpr char kAdapterDriverVariable[] = "QUARNEX_ADAPTER_DRIVER";
constexpr char kNoInternalLoopback[] = "internal loopback is not offered by this port's driver";

bool AdapterDriverChosen() {
  const char* value = std::getenv(kAdapterDriverVariable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

// "Quarnex01": the device path without its "\\.\" prefix.
std::string PortLabel(std::string_view path) {
  const size_t cut = path.rfind('\\');
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// The simulated adapter's port, with what was tried and why it failed
// for the Start to tell.
DeviceRef OpenSimulated(int port_number) {
  std::string tried, problem;
  DeviceRef device = OpenSimulatedPort(port_number, &tried, &problem);
  if (device == nullptr) {
    NoteOpenTarget(std::move(tried));
    NoteOpenProblem(std::move(problem));
  }
  return device;
}

DeviceRef OpenStandardDevice(std::string_view path) {
  int port_number = 0;
  if (!ParseDevicePath(path, &port_number)) return nullptr;
  const DeviceMap map = CurrentDeviceMap();
  std::string target;
  if (const DeviceMapEntry* entry = FindDeviceEntry(map, port_number)) {
    // The simulated adapter's ports all have their loopback plug.
    if (entry->path == kSimulatedDevicePath) return OpenSimulated(port_number);
    if (entry->internal_loopback) {
      NoteOpenTarget(entry->path);
      NoteOpenProblem(entry->path + ": " + kNoInternalLoopback);
      return nullptr;
    }
    target = Win32DevicePath(entry->path);
  } else if (AdapterDriverChosen()) {
    target = std::string(path);
  } else {
    return OpenSimulated(port_number);
  }
  Win32OpenOptions options;
  options.kind =
      IsAdapterDriverPath(target) ? Win32PortKind::kAdapterDriver : Win32PortKind::kCommPort;
  options.label = PortLabel(path);
  std::string problem;
  DeviceRef device = OpenWin32Device(target, options, &problem);
  if (device == nullptr) {
    NoteOpenTarget(target);
    NoteOpenProblem(std::move(problem));
  }
  return device;
}

}  // namespace

DeviceOpener StandardDeviceOpener() { return OpenStandardDevice; }

}  // namespace quarnex
