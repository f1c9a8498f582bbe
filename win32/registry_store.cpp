#include "win32/registry_store.h"

#include <cstring>
#include <vector>

namespace quarnex {

RegistryStore::RegistryStore(HKEY root, const std::string& subkey) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    key_ = key;
  }
}

RegistryStore::~RegistryStore() {
  if (key_ != nullptr) RegCloseKey(key_);
}

bool RegistryStore::ReadBinary(const char* name, void* buffer, size_t size, size_t* taken) {
  if (key_ == nullptr) return false;
  DWORD type = 0;
  DWORD stored = 0;
  // The size first: a value longer than the record is read whole into a
  // scratch buffer and cut, never into the record.
  if (RegQueryValueExA(key_, name, nullptr, &type, nullptr, &stored) != ERROR_SUCCESS ||
      type != REG_BINARY) {
    return false;
  }
  std::vector<BYTE> bytes(stored);
  DWORD got = stored;
  if (RegQueryValueExA(key_, name, nullptr, &type, bytes.data(), &got) != ERROR_SUCCESS ||
      type != REG_BINARY) {
    return false;
  }
  const size_t n = got < size ? got : size;
  if (n > 0) std::memcpy(buffer, bytes.data(), n);
  if (taken != nullptr) *taken = n;
  return true;
}

bool RegistryStore::WriteBinary(const char* name, const void* data, size_t size) {
  if (key_ == nullptr || size > MAXDWORD) return false;
  return RegSetValueExA(key_, name, 0, REG_BINARY, static_cast<const BYTE*>(data),
                        static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool RegistryStore::ReadU32(const char* name, uint32_t* value) {
  if (key_ == nullptr) return false;
  DWORD type = 0;
  DWORD stored = 0;
  DWORD size = sizeof(stored);
  if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&stored), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(stored)) {
    return false;
  }
  *value = stored;
  return true;
}

bool RegistryStore::WriteU32(const char* name, uint32_t value) {
  if (key_ == nullptr) return false;
  const DWORD stored = value;
  return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored),
                        sizeof(stored)) == ERROR_SUCCESS;
}

std::unique_ptr<SettingsStore> OpenWindowsStore() {
  return std::make_unique<RegistryStore>(HKEY_CURRENT_USER, kRegistryKeyPath);
}

}  // namespace quarnex
