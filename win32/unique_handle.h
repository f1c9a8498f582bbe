// UniqueHandle: owns one Win32 kernel handle and closes it once.
//
// Both null and INVALID_HANDLE_VALUE count as "no handle", since Win32
// calls return one or the other on failure.
//
// Not thread-safe: one owner at a time.
#ifndef QUARNEX_WIN32_UNIQUE_HANDLE_H_
#define QUARNEX_WIN32_UNIQUE_HANDLE_H_

#include <windows.h>

#include <utility>

namespace quarnex {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE Release() { return std::exchange(handle_, nullptr); }
  void Reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace quarnex

#endif  // QUARNEX_WIN32_UNIQUE_HANDLE_H_
