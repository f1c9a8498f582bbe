// The table of the Windows programs; device_backends.h tells the rules.
// On Windows a port the device map names opens through the Win32 backend
// (win32/win32_device.h), and QUARNEX_ADAPTER_DRIVER=1 sends every other
// port to the adapter's own driver in place of the simulated adapter.
#include <cstdlib>
#include <cstring>
#include <string>

#include "adapter/simulated_adapter.h"
#include "testapp/driver/device_map.h"
#include "testapp/wiring/device_backends.h"
#include "win32/win32_device.h"

namespace quarnex {

namespace {

constexpr char kAdapterDriverVariable[] = "QUARNEX_ADAPTER_DRIVER";
constexpr char kNoInternalLoopback[] = "internal loopback is not offered by this port's driver";

// "Quarnex01": the device path without its "\\.\" prefix.
std::string PortLabel(std::string_view path) {
  const size_t cut = path.rfind('\\');
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// The simulated adapter's port, with what was tried and why it failed.
OpenResult OpenSimulated(const PortRequest& request) {
  OpenResult result;
  result.device = OpenSimulatedPort(request.port, &result.tried, &result.reason);
  return result;
}

OpenResult OpenWin32(const std::string& target, std::string_view path) {
  Win32OpenOptions options;
  options.kind =
      IsAdapterDriverPath(target) ? Win32PortKind::kAdapterDriver : Win32PortKind::kCommPort;
  options.label = PortLabel(path);
  OpenResult result;
  result.tried = target;
  result.device = OpenWin32Device(target, options, &result.reason);
  return result;
}

bool MappedToSimulated(const DeviceMapEntry* entry) {
  return entry != nullptr && entry->path == kSimulatedDevicePath;
}

bool Mapped(const DeviceMapEntry* entry) { return entry != nullptr; }

bool AdapterDriverChosen(const DeviceMapEntry* entry) {
  const char* value = std::getenv(kAdapterDriverVariable);
  return entry == nullptr && value != nullptr && std::strcmp(value, "1") == 0;
}

OpenResult OpenMappedWin32(const PortRequest& request) {
  if (request.entry->internal_loopback) {
    return {nullptr, request.entry->path, request.entry->path + ": " + kNoInternalLoopback};
  }
  return OpenWin32(Win32DevicePath(request.entry->path), request.path);
}

OpenResult OpenAdapterDriver(const PortRequest& request) {
  return OpenWin32(std::string(request.path), request.path);
}

}  // namespace

BackendTable StandardBackends() {
  return {
      // The simulated adapter's ports all have their loopback plug.
      {.name = "simulated adapter (mapped)", .takes = MappedToSimulated, .open = OpenSimulated},
      {.name = "Win32 device (mapped)", .takes = Mapped, .open = OpenMappedWin32},
      {.name = "adapter driver (QUARNEX_ADAPTER_DRIVER)",
       .takes = AdapterDriverChosen,
       .open = OpenAdapterDriver},
      {.name = "simulated adapter", .open = OpenSimulated},
  };
}

}  // namespace quarnex
