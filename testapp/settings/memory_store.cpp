// MemoryStore: the in-memory settings store.
#include "testapp/settings/memory_store.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quarnex {

bool MemoryStore::ReadBinary(const char* name, void* buffer, size_t size, size_t* taken) {
  if (!available_) return false;
  auto it = binary_.find(name);
  if (it == binary_.end()) return false;
  const size_t n = std::min(size, it->second.size());
  if (n > 0) std::memcpy(buffer, it->second.data(), n);
  if (taken != nullptr) *taken = n;
  return true;
}

bool MemoryStore::WriteBinary(const char* name, const void* data, size_t size) {
  if (!available_) return false;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  PutBinary(name, std::vector<uint8_t>(bytes, bytes + size));
  writes_.push_back(name);
  return true;
}

bool MemoryStore::ReadU32(const char* name, uint32_t* value) {
  if (!available_) return false;
  return GetU32(name, value);
}

bool MemoryStore::WriteU32(const char* name, uint32_t value) {
  if (!available_) return false;
  PutU32(name, value);
  writes_.push_back(name);
  return true;
}

void MemoryStore::PutBinary(const std::string& name, std::vector<uint8_t> bytes) {
  u32_.erase(name);
  binary_[name] = std::move(bytes);
}

void MemoryStore::PutU32(const std::string& name, uint32_t value) {
  binary_.erase(name);
  u32_[name] = value;
}

bool MemoryStore::GetBinary(const std::string& name, std::vector<uint8_t>* bytes) const {
  auto it = binary_.find(name);
  if (it == binary_.end()) return false;
  *bytes = it->second;
  return true;
}

bool MemoryStore::GetU32(const std::string& name, uint32_t* value) const {
  auto it = u32_.find(name);
  if (it == u32_.end()) return false;
  *value = it->second;
  return true;
}

}  // namespace quarnex
