// Test helpers for the serial backend: pseudo-terminal pairs, a loopback
// plug on a pair's master side, and a temporary folder of port links.
// PtyPlug (serial/pty_plug.h) is the plug that never blocks, with faults,
// counters and a vanish, built on PtyPair.
//
// Thread-safety: each helper is used from the test's thread; EchoPlug runs
// one thread of its own, joined by its destructor.
#ifndef QUARNEX_SERIAL_PTY_TEST_UTIL_H_
#define QUARNEX_SERIAL_PTY_TEST_UTIL_H_

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "testapp/platform/test_support.h"
#include "testapp/platform/unique_fd.h"

namespace quarnex {

// A pseudo-terminal pair. The test keeps the slave open too, so that the
// pair survives while devices open and close their own descriptors of the
// slave (through `slave_path`).
struct PtyPair {
  UniqueFd master;
  UniqueFd slave;
  std::string slave_path;

  // False when the pair cannot be made. The master is non-blocking; the
  // line is raw, so the slave's line discipline neither echoes nor
  // translates what passes. Neither descriptor leaks into child processes.
  bool Open() {
    master.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    char name[128] = {};
    if (!master.valid() || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0 ||
        ptsname_r(master.get(), name, sizeof(name)) != 0) {
      return false;
    }
    slave.Reset(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios raw;
    if (!slave.valid() || tcgetattr(slave.get(), &raw) != 0) return false;
    cfmakeraw(&raw);
    if (tcsetattr(slave.get(), TCSANOW, &raw) != 0) return false;
    slave_path = name;
    return true;
  }
};

// A loopback plug on a master: everything the slave side writes comes back
// to it. Also counts the bytes it echoed.
class EchoPlug {
 public:
  explicit EchoPlug(int master_fd)
      : fd_(master_fd), stop_(eventfd(0, EFD_CLOEXEC)), thread_([this] { Run(); }) {}
  ~EchoPlug() { Stop(); }
  EchoPlug(const EchoPlug&) = delete;
  EchoPlug& operator=(const EchoPlug&) = delete;

  void Stop() {
    if (!thread_.joinable()) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(stop_.get(), &one, sizeof(one));
    thread_.join();
  }
  uint64_t echoed() const { return echoed_.load(); }
  // The CPU time the echo thread has used so far, in seconds (0 once
  // stopped), so that a benchmark can leave the plug's own work out of the
  // process's CPU time. Called from the test's thread.
  double cpu_seconds() {
    clockid_t clock;
    timespec ts;
    if (!thread_.joinable() || pthread_getcpuclockid(thread_.native_handle(), &clock) != 0 ||
        clock_gettime(clock, &ts) != 0) {
      return 0;
    }
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }

 private:
  void Run() {
    uint8_t buffer[4096];
    for (;;) {
      pollfd fds[2] = {{stop_.get(), POLLIN, 0}, {fd_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      if (fds[1].revents & (POLLHUP | POLLERR)) {
        // No slave descriptor open for the moment: wait for one.
        poll(fds, 1, 5);
        if (fds[0].revents) return;
      }
      const ssize_t n = read(fd_, buffer, sizeof(buffer));
      if (n <= 0) continue;
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = write(fd_, buffer + done, static_cast<size_t>(n - done));
        if (w > 0) {
          done += w;
        } else {
          pollfd out[2] = {{stop_.get(), POLLIN, 0}, {fd_, POLLOUT, 0}};
          poll(out, 2, 10);
          if (out[0].revents) return;
        }
      }
      echoed_.fetch_add(static_cast<uint64_t>(n));
    }
  }

  const int fd_;
  UniqueFd stop_;
  std::atomic<uint64_t> echoed_{0};
  std::thread thread_;
};

// A temporary folder for port links, removed with everything in it when
// the object dies.
class TempDir : public TempFolder {
 public:
  TempDir() : TempFolder("quarnex-tty-") {}

  // Makes the link `name` -> `target` in the folder.
  bool Link(const std::string& name, const std::string& target) const {
    std::error_code error;
    std::filesystem::create_symlink(target, path() / name, error);
    return !error;
  }
};

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_PTY_TEST_UTIL_H_
