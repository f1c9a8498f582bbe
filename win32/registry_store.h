// RegistryStore: the settings store of the Windows programs.
//
// The values live in the registry key
// HKEY_CURRENT_USER\Software\ZVL\QuarnexTest, as the adapter's own tester
// keeps them: the four records
// ("Test", "Port", "Packet", "Timeouts") and the device map as REG_BINARY
// byte images, the window and column values as REG_DWORD. A value of the
// other type is not believed: ReadBinary takes only REG_BINARY and ReadU32
// only a 4-byte REG_DWORD, so a damaged value keeps its default.
//
// The key is opened (and created when absent) once, by the constructor;
// when that fails every read and write fails, which leaves the defaults in
// place.
//
// Not thread-safe: settings load and save run on one thread.
#ifndef QUARNEX_WIN32_REGISTRY_STORE_H_
#define QUARNEX_WIN32_REGISTRY_STORE_H_

#include <windows.h>

#include <memory>
#include <string>

#include "testapp/settings/settings_store.h"

namespace quarnex {

// The key under HKEY_CURRENT_USER.
inline constexpr char kRegistryKeyPath[] = "Software\\ZVL\\QuarnexTest";

class RegistryStore : public SettingsStore {
 public:
  // The key `subkey` under `root`, created when absent.
  RegistryStore(HKEY root, const std::string& subkey);
  ~RegistryStore() override;
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // False when the key could not be opened or created.
  bool IsOpen() const { return key_ != nullptr; }

  // SettingsStore. ReadBinary copies at most `size` bytes of a longer
  // value and reports the count in *taken (which may be null).
  bool ReadBinary(const char* name, void* buffer, size_t size, size_t* taken) override;
  bool WriteBinary(const char* name, const void* data, size_t size) override;
  bool ReadU32(const char* name, uint32_t* value) override;
  bool WriteU32(const char* name, uint32_t value) override;

 private:
  HKEY key_ = nullptr;
};

// The program's own store: HKEY_CURRENT_USER\Software\ZVL\QuarnexTest.
std::unique_ptr<SettingsStore> OpenWindowsStore();

}  // namespace quarnex

#endif  // QUARNEX_WIN32_REGISTRY_STORE_H_
