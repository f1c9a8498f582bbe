// MemoryStore: a settings store held in memory, for tests.
//
// It keeps binary values and 32-bit values by name. As in the registry, a
// name holds one value: writing a name as one kind replaces a value of the
// other kind, and a read of the wrong kind fails (as a QSettings byte array
// does not convert to a number). Besides the store interface it lets a test
// seed raw values of any length, make the store unavailable (every read and
// write fails, as when the key cannot be opened), and inspect what was
// written and in which order.
//
// Not thread-safe; settings load and save run on one thread.
#ifndef QUARNEX_SETTINGS_MEMORY_STORE_H_
#define QUARNEX_SETTINGS_MEMORY_STORE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "testapp/settings/settings_store.h"

namespace quarnex {

class MemoryStore : public SettingsStore {
 public:
  MemoryStore() = default;

  // SettingsStore. All fail while the store is unavailable. ReadBinary cuts
  // a stored value longer than `size` and reports the bytes it copied in
  // *taken (which may be null).
  bool ReadBinary(const char* name, void* buffer, size_t size, size_t* taken) override;
  bool WriteBinary(const char* name, const void* data, size_t size) override;
  bool ReadU32(const char* name, uint32_t* value) override;
  bool WriteU32(const char* name, uint32_t value) override;

  // Seeds a value as if an earlier program had stored it; works while the
  // store is unavailable and is not logged as a write.
  void PutBinary(const std::string& name, std::vector<uint8_t> bytes);
  void PutU32(const std::string& name, uint32_t value);

  // While unavailable, every SettingsStore call fails and changes nothing.
  void SetAvailable(bool available) { available_ = available; }

  // What the store holds now; false when `name` holds no value of the kind.
  bool GetBinary(const std::string& name, std::vector<uint8_t>* bytes) const;
  bool GetU32(const std::string& name, uint32_t* value) const;

  // Names passed to successful WriteBinary/WriteU32 calls, oldest first.
  const std::vector<std::string>& writes() const { return writes_; }

 private:
  bool available_ = true;
  std::map<std::string, std::vector<uint8_t>> binary_;
  std::map<std::string, uint32_t> u32_;
  std::vector<std::string> writes_;
};

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_MEMORY_STORE_H_
