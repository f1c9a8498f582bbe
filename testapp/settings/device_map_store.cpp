// The device map among the window's settings.
#include "testapp/settings/device_map_store.h"

#include <string>
#include <string_view>
#include <vector>

namespace quarnex {

DeviceMap LoadDeviceMap(SettingsStore& store) {
  std::vector<char> buffer(kMaxStoredDeviceMapSize);
  size_t taken = 0;
  if (!store.ReadBinary(kDeviceMapValueName, buffer.data(), buffer.size(), &taken)) return {};
  std::string_view text(buffer.data(), taken);
  // A value that fills the buffer is longer than any map and was cut: its
  // last line may be cut inside a path, which must not read as a shorter
  // one.
  if (taken == buffer.size()) {
    const size_t last_line_end = text.rfind('\n');
    text = text.substr(0, last_line_end == std::string_view::npos ? 0 : last_line_end + 1);
  }
  return ParseDeviceMap(text);
}

bool SaveDeviceMap(SettingsStore& store, const DeviceMap& map) {
  const std::string text = FormatDeviceMap(map);
  return store.WriteBinary(kDeviceMapValueName, text.data(), text.size());
}

}  // namespace quarnex
