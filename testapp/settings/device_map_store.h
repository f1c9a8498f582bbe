// The device map among the window's settings: one value beside the
// records and the layout, never changing how those are stored.
//
// The value "DeviceMap" holds FormatDeviceMap's text (one "N=PATH" or
// "N=PATH,loop" line per mapped port) as a binary value. It holds only the
// ports the user put on a serial device: a port without an entry opens the
// default backend (device_map.h). A damaged value is read as far as it goes:
// ParseDeviceMap skips the lines that are no entry.
//
// Used on the user-interface thread, as the store is.
#ifndef QUARNEX_SETTINGS_DEVICE_MAP_STORE_H_
#define QUARNEX_SETTINGS_DEVICE_MAP_STORE_H_

#include <cstddef>

#include "testapp/driver/device_map.h"
#include "testapp/settings/settings_store.h"

namespace quarnex {

inline constexpr char kDeviceMapValueName[] = "DeviceMap";

// The longest text FormatDeviceMap writes: every port's longest line,
// "999=" PATH ",loop" and the line feed. A longer stored value is damaged;
// it is read this far, without the line the cut falls in.
inline constexpr size_t kMaxStoredDeviceMapSize =
    kMaxDeviceMapEntries * (4 + kMaxDeviceMapPath + kInternalLoopbackSuffix.size() + 1);

// The stored map; empty when none is stored or the value cannot be read.
// Never fails loudly: a missing device or a damaged value is no reason to
// stop the program from starting.
DeviceMap LoadDeviceMap(SettingsStore& store);

// Stores `map`; false when the store refused the write.
bool SaveDeviceMap(SettingsStore& store, const DeviceMap& map);

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_DEVICE_MAP_STORE_H_
