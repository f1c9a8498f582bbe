// PtyPlug: a loopback plug on a pseudo-terminal, so that the TTY backend
// can be tested, and the tester run, without hardware.
//
// A plug holds a pseudo-terminal pair, links `QuarnexNN` in a folder to its
// slave (the name the backend opens under QUARNEX_TTY_DIR), and on a thread
// of its own sends back to the slave whatever was written to it. It never
// blocks in either direction: the master is non-blocking and one poll()
// watches it for input while the plug's buffer has room and for output
// while the buffer holds bytes. So the plug goes on reading while the port
// cannot yet take the echo, up to its buffer, and a port that writes and
// reads at once never waits on it. (An echo that blocks in write() stops
// reading, and deadlocks once both directions are full.)
//
// Faults are counted over the stream the port sent, over the plug's whole
// life: offset 0 is the first byte the plug read. With drop_every = K the
// bytes at offsets K-1, 2K-1, 3K-1, ... never come back; with flip_every = K
// the bytes at those offsets come back with flip_mask XORed in. A byte both
// rules hit is dropped, not flipped. So a test knows in advance which bytes
// are hit, and the offset lists tell which were.
//
// Vanish() closes the pseudo-terminal at once: to the port that is an
// unplugged device. The backend sees a hang-up; the slave's node and the
// plug's link go, so the port is missing from then on, until another plug
// takes its name.
//
// The plug holds a descriptor of the slave itself, so the pair lives on
// while ports open and close their own; what the plug sends back while the
// port is closed waits in the slave's input (the backend discards it at
// the next open).
//
// Thread-safety: every method may be called from any thread. The plug's
// thread runs from Create until Vanish or destruction. Several plugs (one
// per port) may live in one process.
#ifndef QUARNEX_SERIAL_PTY_PLUG_H_
#define QUARNEX_SERIAL_PTY_PLUG_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_test_util.h"
#include "testapp/platform/unique_fd.h"

namespace quarnex {

inline constexpr size_t kDefaultPlugBufferSize = 64 * 1024;

struct PtyPlugOptions {
  uint32_t drop_every = 0;  // K > 0: every K-th byte is dropped
  uint32_t flip_every = 0;  // K > 0: every K-th byte comes back with flip_mask XORed in
  uint8_t flip_mask = 0x01;
  size_t buffer_size = kDefaultPlugBufferSize;  // bytes read but not yet sent back, at most
  // Record the offsets of the bytes hit. A long manual run may leave it
  // off, so the lists do not grow without end; the counters count anyway.
  bool keep_offsets = true;
};

struct PtyPlugCounters {
  uint64_t received = 0;  // bytes the plug read from the port
  uint64_t passed = 0;    // bytes it sent back (flipped ones included)
  uint64_t dropped = 0;
  uint64_t flipped = 0;  // bytes changed; they pass once the port takes them
};

class PtyPlug {
 public:
  // Opens a pseudo-terminal, links `dir`/QuarnexNN (TtyLinkName(port)) to
  // its slave and starts the echo. Null when it cannot; then *problem (when
  // not null) says why: the folder is missing, the name is taken, no
  // pseudo-terminal. A link that leads nowhere (left by a process that
  // died) is replaced; anything else is not.
  static std::unique_ptr<PtyPlug> Create(const std::string& dir, int port,
                                         const PtyPlugOptions& options, std::string* problem);

  // Vanish(), unless the plug vanished before.
  ~PtyPlug();
  PtyPlug(const PtyPlug&) = delete;
  PtyPlug& operator=(const PtyPlug&) = delete;

  // Pulls the plug: the thread stops, the link goes (unless it leads
  // elsewhere by now) and both ends of the pseudo-terminal close before it
  // returns. Later calls do nothing. The counters and offset lists stay
  // readable.
  void Vanish();
  bool vanished() const { return vanished_.load(); }

  PtyPlugCounters counters() const;
  // Stream offsets of the bytes dropped / flipped so far, ascending (empty
  // when keep_offsets is off).
  std::vector<uint64_t> dropped_offsets() const;
  std::vector<uint64_t> flipped_offsets() const;

  const std::string& slave_path() const { return pty_.slave_path; }
  const std::string& link_path() const { return link_path_; }

 private:
  PtyPlug(const PtyPlugOptions& options, std::string link_path);

  void Run();
  // Reads what the port sent while the buffer has room, applying the
  // faults on the way in. False when nothing could be read.
  bool Take();
  // Sends back what the buffer holds while the port takes it. False when
  // nothing could be written.
  bool Give();
  void StopThread();

  const PtyPlugOptions options_;
  const std::string link_path_;
  PtyPair pty_;    // closed by Vanish, after the thread stopped
  UniqueFd stop_;  // eventfd that ends the thread
  std::thread thread_;

  // Touched by the plug's thread only.
  std::vector<uint8_t> ring_;
  size_t ring_head_ = 0;  // next byte to send back
  size_t ring_used_ = 0;
  std::vector<uint8_t> chunk_;  // one read's bytes before the faults

  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> passed_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> flipped_{0};
  std::atomic<bool> vanished_{false};

  mutable std::mutex offsets_mu_;
  std::vector<uint64_t> dropped_offsets_;  // guarded by offsets_mu_
  std::vector<uint64_t> flipped_offsets_;  // guarded by offsets_mu_

  std::mutex life_mu_;   // serialises Vanish
  bool linked_ = false;  // set by Create; the link is this plug's to remove
};

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_PTY_PLUG_H_
