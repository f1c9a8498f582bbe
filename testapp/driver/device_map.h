// The device map: which device a port number opens.
//
// A port the map names opens its serial device (a TTY path such as
// /dev/ttyUSB0 or a /dev/serial/by-id link) or, for the path "sim", the
// simulated adapter's port of that number; a port the map leaves out opens
// the default backend (QUARNEX_TTY_DIR's links, else the simulated
// adapter). The runner fills the map from --device N=PATH, the window from
// its Port... dialog, where the user's map is stored with the settings.
//
// One entry is written "N=PATH" or "N=PATH,loop"; ",loop" asks for the
// UART's internal loopback, so the port is tested without a plug. The
// stored form is the entries one per line.
//
// A program's map is held by its DeviceOpener (open_device.h).
//
// Thread-safety: the functions are pure; any thread.
#ifndef QUARNEX_DRIVER_DEVICE_MAP_H_
#define QUARNEX_DRIVER_DEVICE_MAP_H_

#include <string>
#include <string_view>
#include <vector>

namespace quarnex {

// The path that names the simulated adapter's port.
inline constexpr std::string_view kSimulatedDevicePath = "sim";
// The suffix that asks for the internal loopback.
inline constexpr std::string_view kInternalLoopbackSuffix = ",loop";
// Longest PATH an entry takes (PATH_MAX).
inline constexpr size_t kMaxDeviceMapPath = 4095;
// Ports a map holds at most: one per port number.
inline constexpr size_t kMaxDeviceMapEntries = 1000;

struct DeviceMapEntry {
  int port = 0;      // 0..999
  std::string path;  // a device path, or kSimulatedDevicePath
  bool internal_loopback = false;

  bool operator==(const DeviceMapEntry&) const = default;
};

struct DeviceMap {
  std::vector<DeviceMapEntry> entries;  // ascending port numbers, each once

  bool operator==(const DeviceMap&) const = default;
};

// Reads one entry, "N=PATH" or "N=PATH,loop". False, with *error one line
// naming what is wrong (no program name, no line feed), for a missing "=",
// a port number outside 0..999, or an empty, too long or control-character
// PATH; *entry is then unchanged.
bool ParseDeviceEntry(std::string_view text, DeviceMapEntry* entry, std::string* error);

// The entry as ParseDeviceEntry reads it back.
std::string FormatDeviceEntry(const DeviceMapEntry& entry);

// Adds `entry` to *map, replacing the entry of the same port, and keeps the
// ports in order.
void PutDeviceEntry(DeviceMap* map, DeviceMapEntry entry);

// The entry of `port`, or null when the map leaves the port out. The
// pointer lives as long as *map is not changed.
const DeviceMapEntry* FindDeviceEntry(const DeviceMap& map, int port);

// The stored form: one FormatDeviceEntry per line, each ended by '\n'.
std::string FormatDeviceMap(const DeviceMap& map);

// Reads a stored map. A line that is not an entry (a damaged store) is
// skipped, as are lines past kMaxDeviceMapEntries; a later line of the same
// port replaces the earlier one.
DeviceMap ParseDeviceMap(std::string_view text);

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_DEVICE_MAP_H_
