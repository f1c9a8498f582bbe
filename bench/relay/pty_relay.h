// PtyRelay: a serial line with a rate between two pseudo-terminal pairs, so
// that the tester can be measured against a line that paces like a UART.
//
//   tester -> A's slave | A's master -> [paced] -> B's master | B's slave
//   tester <- A's slave | A's master <- [as it comes] <- B's master | B's slave
//
// The port's side is pair A: the tester opens A's slave (port_path()). The
// far end is pair B: whatever sits on B's slave (far_end_fd(); a loopback
// plug for Loopback) receives the line's bytes and may answer. The relay's
// thread reads what the port sends on A's master and writes it to B's
// master no earlier than the line's clock lets each byte cross
// (PacedLine: bits_per_character / bit_rate seconds a byte, exact in the
// long run), in bursts of about `burst` worth of bytes; the last byte
// waiting is released at its own time, not with a later burst.
//
// What comes back on B's master goes to A's master as it comes. That models
// a looped UART line: the port's TX pin is wired to its RX pin, so each
// byte is on the receive side as it leaves, carried once at the line rate,
// and a packet of N bytes is back N x 10 / rate seconds after it was sent
// (not twice that). Pacing the way back as well would add a second clock,
// and a second burst's delay to every packet, which a looped line does not
// have.
//
// Neither direction ever blocks the relay: the masters are non-blocking;
// a side that cannot take more holds the bytes in the relay (at most
// `buffer_size` each way), and the relay stops reading the other side
// until it can, so the writers see the line's back-pressure.
//
// counters() tells what the paced direction achieved: bytes passed, and
// the time the line was busy passing them (PacedLine), so passed / busy is
// the rate the line really ran at, wake-up delays included.
//
// Thread-safety: every method may be called from any thread; the relay's
// thread runs from Create until Stop or destruction.
#ifndef QUARNEX_BENCH_RELAY_PTY_RELAY_H_
#define QUARNEX_BENCH_RELAY_PTY_RELAY_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bench/relay/paced_line.h"
#include "serial/pty_test_util.h"
#include "testapp/platform/unique_fd.h"

namespace quarnex {

struct PtyRelayOptions {
  uint32_t bit_rate = 921600;
  uint32_t bits_per_character = kUartBitsPerCharacter;
  // About how much line time one wake-up of the relay releases: shorter
  // bursts cost more wake-ups, longer ones delay the bytes that follow
  // within a packet (never the last one).
  std::chrono::nanoseconds burst = std::chrono::microseconds(500);
  size_t buffer_size = 64 * 1024;  // bytes held in each direction, at most
};

struct PtyRelayCounters {
  uint64_t passed = 0;    // bytes the paced direction wrote to B's master
  int64_t busy_ns = 0;    // the time the paced line was busy with them
  uint64_t returned = 0;  // bytes passed back from B's master to A's
};

class PtyRelay {
 public:
  // Opens both pairs and starts the relay's thread. Null when it cannot;
  // then *problem (when not null) says why.
  static std::unique_ptr<PtyRelay> Create(const PtyRelayOptions& options, std::string* problem);
  ~PtyRelay();  // Stop()
  PtyRelay(const PtyRelay&) = delete;
  PtyRelay& operator=(const PtyRelay&) = delete;

  // A's slave: the port's device node.
  const std::string& port_path() const { return port_.slave_path; }
  // B's slave, open and raw (blocking): the far end's descriptor. Valid
  // until the relay is destroyed.
  int far_end_fd() const { return far_.slave.get(); }

  PtyRelayCounters counters() const;

  // Ends the relay's thread; the pairs stay open until destruction.
  void Stop();

 private:
  explicit PtyRelay(const PtyRelayOptions& options);
  void Run();
  // Moves what crossed the line to B's master; false when B is full.
  bool ReleaseCrossed(int64_t now);
  // Moves what waits to go back to A's master; false when A is full.
  bool PassBack();
  void Publish();

  const PtyRelayOptions options_;
  const uint64_t burst_bytes_;
  PtyPair port_;  // A
  PtyPair far_;   // B
  UniqueFd stop_;
  std::thread thread_;
  std::mutex stop_mu_;  // serialises Stop

  // The relay's thread's own.
  PacedLine line_;
  std::vector<uint8_t> back_;  // bytes on their way from B to A
  size_t back_head_ = 0;       // the first of back_ not yet passed

  std::atomic<uint64_t> passed_{0};
  std::atomic<int64_t> busy_ns_{0};
  std::atomic<uint64_t> returned_{0};
};

}  // namespace quarnex

#endif  // QUARNEX_BENCH_RELAY_PTY_RELAY_H_
