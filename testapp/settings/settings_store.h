// The settings store: where the records and the window layout persist.
//
// The Windows original keeps them in the registry key
// "Software\ZVL\QuarnexTest"; the Qt program uses QSettings, tests use
// MemoryStore. Values are binary images (the four records) or 32-bit
// integers (window and column values). Failures are never reported to the
// user; a false result only decides whether a default is used.
//
// Used on the user-interface thread only.
#ifndef QUARNEX_SETTINGS_SETTINGS_STORE_H_
#define QUARNEX_SETTINGS_SETTINGS_STORE_H_

#include <cstddef>
#include <cstdint>

namespace quarnex {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // Reads binary value `name` into `buffer`, never writing past `size`
  // bytes. On success stores in *taken how many bytes it wrote (a stored
  // value longer than `size` is cut to `size`). False when the value is
  // missing or unreadable; `buffer` is then untouched.
  virtual bool ReadBinary(const char* name, void* buffer, size_t size, size_t* taken) = 0;
  virtual bool WriteBinary(const char* name, const void* data, size_t size) = 0;
  // Reads a 32-bit value; false when it is missing or not a number.
  virtual bool ReadU32(const char* name, uint32_t* value) = 0;
  virtual bool WriteU32(const char* name, uint32_t value) = 0;
};

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_SETTINGS_STORE_H_
