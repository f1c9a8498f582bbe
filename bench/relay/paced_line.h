// PacedLine: the bytes on their way across a serial line that has a rate,
// and when each of them has crossed it.
//
// A UART sends a character as a start bit, the data bits, the parity bit
// and a stop bit (10 bits for 8N1), so at `bit_rate` a character takes
// bits_per_character / bit_rate seconds, and the next one cannot start
// before it ended. A byte that reaches an idle line starts at once and has
// crossed it one character time later; bytes that come while the line is
// busy queue behind. The schedule is exact: byte j of a busy stretch that
// began at t0 has crossed at t0 + ceil((j + 1) x character time) ns, with
// no rounding that could add up over a long stretch, so the long-run rate
// is the bit rate's and no byte is released before its time on the clock.
//
// The owner hands bytes in with Push, asks which have crossed with
// Crossed, and says with Released which ones it wrote out, and when. From
// those moments the line counts its busy time: from the start of a busy
// stretch to the moment its last byte was really written out. So a
// relay that wakes late shows a line slower than its bit rate, and
// counters().passed / counters().busy_ns is the rate it really achieved.
//
// Times are nanoseconds on one monotonic scale of the owner's choice, never
// decreasing from call to call; the class reads no clock itself, so tests
// drive it with made-up times.
//
// Thread-safety: none; one owner (the relay's thread) calls every method.
#ifndef QUARNEX_BENCH_RELAY_PACED_LINE_H_
#define QUARNEX_BENCH_RELAY_PACED_LINE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace quarnex {

inline constexpr uint32_t kUartBitsPerCharacter = 10;  // start, 8 data, stop

class PacedLine {
 public:
  struct Counters {
    uint64_t passed = 0;  // bytes written out
    int64_t busy_ns = 0;  // time the line was busy carrying them
  };

  // bit_rate and bits_per_character above 0. At most `capacity` bytes wait
  // on the line (room() says how many more fit).
  PacedLine(uint32_t bit_rate, uint32_t bits_per_character, size_t capacity);

  size_t room() const { return capacity_ - bytes_.size(); }
  // Bytes handed in so far.
  uint64_t arrived() const { return arrived_; }
  // Bytes released so far (the first ones, in order).
  uint64_t released() const { return released_; }

  // `size` bytes (at most room()) reach the line at `now`.
  void Push(int64_t now, const uint8_t* data, size_t size);

  // How many of the bytes not yet released have crossed by `now`; they are
  // the first ones of Waiting().
  size_t Crossed(int64_t now) const;
  // The bytes not yet released, oldest first, copied into `out` (at most
  // `max` of them); returns how many.
  size_t Waiting(uint8_t* out, size_t max) const;
  // The first `count` waiting bytes (no more than Crossed(now)) were
  // written out at `now`.
  void Released(int64_t now, size_t count);

  // When byte `index` (counted from 0 over every Push; released() <= index
  // < arrived()) has crossed.
  int64_t CrossTime(uint64_t index) const;

  // The next moment worth waking at to release a burst of about
  // `burst_bytes` bytes: when the burst's last byte has crossed, or the
  // last byte waiting, whichever comes first. -1 when nothing waits to
  // cross (all has crossed, or nothing waits).
  int64_t NextWake(int64_t now, uint64_t burst_bytes) const;

  Counters counters() const { return counters_; }

 private:
  // Bytes [first, end) make one busy stretch that began at `start`.
  struct Stretch {
    int64_t start;
    uint64_t first;
    uint64_t end;
  };
  // How many of the stretch's bytes have crossed by `now`.
  uint64_t CrossedIn(const Stretch& s, int64_t now) const;
  const Stretch& StretchOf(uint64_t index) const;

  const uint64_t bit_rate_;
  const uint64_t bits_per_character_;
  const size_t capacity_;
  std::deque<uint8_t> bytes_;      // not yet released
  std::deque<Stretch> stretches_;  // those that hold bytes not yet released
  uint64_t arrived_ = 0;
  uint64_t released_ = 0;
  int64_t last_cross_ = 0;         // when the last byte handed in has crossed
  int64_t busy_mark_ = INT64_MIN;  // the last release, for the busy time
  Counters counters_;
};

}  // namespace quarnex

#endif  // QUARNEX_BENCH_RELAY_PACED_LINE_H_
