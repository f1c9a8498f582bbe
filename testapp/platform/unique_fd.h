// UniqueFd: sole ownership of a file descriptor.
//
// The descriptor is closed when the owner is destroyed or reset, so no path
// of an open, a failed set-up or a close can leak one.
//
// Thread-safety: none of its own; the owner guards it like any member.
#ifndef QUARNEX_PLATFORM_UNIQUE_FD_H_
#define QUARNEX_PLATFORM_UNIQUE_FD_H_

#include <unistd.h>

#include <utility>

namespace quarnex {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it; the caller owns it now.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held (if any) and takes `fd`.
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_UNIQUE_FD_H_
