#include "bench/relay/paced_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace quarnex {
namespace {

constexpr int64_t kSecond = 1000000000;

// The line time of `bytes` characters in exact arithmetic: true when
// `elapsed_ns` is at least that long.
bool AtLeastLineTime(int64_t elapsed_ns, uint64_t bytes, uint32_t rate, uint32_t bits) {
  return static_cast<unsigned __int128>(elapsed_ns) * rate >=
         static_cast<unsigned __int128>(bytes) * bits * kSecond;
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> data(size);
  std::iota(data.begin(), data.end(), uint8_t{0});
  return data;
}

struct RateCase {
  uint32_t rate;
  uint32_t bits;
};

const RateCase kRates[] = {
    {921600, 10}, {115200, 10}, {9600, 11}, {12000000, 10}, {1, 10}, {1000000, 7},
};

// Bytes handed in all at once leave one character time apart, each no
// earlier than its time, and the count that crossed by any moment is
// exactly the line's rate times the time, rounded down: no byte early, no
// drift over a long stretch.
TEST(PacedLineTest, SaturatedLineCrossesExactlyAtTheRate) {
  for (const RateCase& c : kRates) {
    SCOPED_TRACE(testing::Message() << c.rate << " bit/s, " << c.bits << " bits");
    const size_t n = 4096;
    const int64_t t0 = 5 * kSecond;
    PacedLine line(c.rate, c.bits, n);
    const std::vector<uint8_t> data = Pattern(n);
    line.Push(t0, data.data(), n);
    for (uint64_t k = 0; k < n; k += 97) {
      const int64_t at = line.CrossTime(k);
      EXPECT_TRUE(AtLeastLineTime(at - t0, k + 1, c.rate, c.bits)) << "byte " << k << " early";
      EXPECT_FALSE(AtLeastLineTime(at - 1 - t0, k + 1, c.rate, c.bits)) << "byte " << k << " late";
      EXPECT_EQ(line.Crossed(at - 1), k) << "byte " << k;
      EXPECT_EQ(line.Crossed(at), k + 1) << "byte " << k;
    }
    // Long run: whole seconds hold exactly rate / bits characters (rounded
    // down), however many seconds pass.
    for (int64_t s : {1, 7, 3600}) {
      const uint64_t expected = static_cast<uint64_t>(s) * c.rate / c.bits;
      EXPECT_EQ(line.Crossed(t0 + s * kSecond), std::min<uint64_t>(expected, n)) << s << " s";
    }
    EXPECT_EQ(line.Crossed(t0), 0u);
  }
}

// A byte that reaches an idle line starts at once; one that comes while
// the line is busy waits behind the bytes before it.
TEST(PacedLineTest, BytesQueueBehindABusyLineAndStartAtOnceOnAnIdleOne) {
  const uint32_t rate = 1000000;  // 10 us a byte at 10 bits
  const int64_t us = 1000;
  struct Arrival {
    int64_t at;
    size_t count;
  };
  struct Case {
    const char* name;
    std::vector<Arrival> arrivals;
    std::vector<int64_t> cross_times;  // of every byte, in order
  };
  const Case cases[] = {
      {"one byte", {{0, 1}}, {10 * us}},
      {"back to back", {{0, 2}, {5 * us, 1}}, {10 * us, 20 * us, 30 * us}},
      {"arrives just as the line frees", {{0, 1}, {10 * us, 1}}, {10 * us, 20 * us}},
      {"after a gap", {{0, 1}, {25 * us, 2}}, {10 * us, 35 * us, 45 * us}},
      {"in the middle of a byte", {{0, 3}, {15 * us, 1}}, {10 * us, 20 * us, 30 * us, 40 * us}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PacedLine line(rate, 10, 64);
    const std::vector<uint8_t> data = Pattern(8);
    for (const Arrival& a : c.arrivals) line.Push(a.at, data.data(), a.count);
    ASSERT_EQ(line.arrived(), c.cross_times.size());
    for (size_t k = 0; k < c.cross_times.size(); ++k) {
      EXPECT_EQ(line.CrossTime(k), c.cross_times[k]) << "byte " << k;
    }
  }
}

// The released bytes are the ones handed in, in order, and never more than
// have crossed; the busy time runs from a stretch's start to the release
// of its last byte, so a relay on time measures the bit rate, a late one
// a slower line, and an idle gap counts for nothing.
TEST(PacedLineTest, ReleasesInOrderAndMeasuresTheBusyTime) {
  const uint32_t rate = 1000000;  // 10 us a byte
  const int64_t us = 1000;
  PacedLine line(rate, 10, 1000);
  const std::vector<uint8_t> data = Pattern(300);
  std::vector<uint8_t> out;
  auto release_until = [&](int64_t now) {
    const size_t crossed = line.Crossed(now);
    std::vector<uint8_t> chunk(crossed);
    ASSERT_EQ(line.Waiting(chunk.data(), crossed), crossed);
    out.insert(out.end(), chunk.begin(), chunk.end());
    line.Released(now, crossed);
  };

  // 100 bytes at t=0, released in bursts exactly on time: 1000 us busy.
  line.Push(0, data.data(), 100);
  for (int64_t t = 0; t <= 1000 * us; t += 90 * us) release_until(t);
  release_until(1000 * us);
  EXPECT_EQ(line.released(), 100u);
  EXPECT_EQ(line.counters().passed, 100u);
  EXPECT_EQ(line.counters().busy_ns, 1000 * us);

  // After an idle gap, 100 more; the relay wakes 40 us late for the last.
  line.Push(5000 * us, data.data() + 100, 100);
  release_until(5500 * us);
  EXPECT_EQ(line.released(), 150u);
  release_until(6040 * us);
  EXPECT_EQ(line.counters().busy_ns, 1000 * us + 1040 * us);

  // Too early for anything: nothing crosses, nothing is counted.
  line.Push(7000 * us, data.data() + 200, 100);
  release_until(7009 * us);
  EXPECT_EQ(line.released(), 200u);
  EXPECT_EQ(line.counters().busy_ns, 2040 * us);
  release_until(8000 * us);

  EXPECT_EQ(out, data);
  EXPECT_EQ(line.counters().passed, 300u);
}

// A line holds at most its capacity; what does not fit is not taken.
TEST(PacedLineTest, HoldsNoMoreThanItsCapacity) {
  PacedLine line(9600, 10, 10);
  const std::vector<uint8_t> data = Pattern(16);
  line.Push(0, data.data(), 6);
  EXPECT_EQ(line.room(), 4u);
  line.Push(1, data.data() + 6, 10);
  EXPECT_EQ(line.arrived(), 10u);
  EXPECT_EQ(line.room(), 0u);
  std::vector<uint8_t> waiting(16);
  ASSERT_EQ(line.Waiting(waiting.data(), waiting.size()), 10u);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 10, waiting.begin()));
}

// The relay wakes when a burst has crossed, or for the last byte waiting,
// whichever is first; not at all when nothing is left to cross.
TEST(PacedLineTest, NextWakeIsTheEndOfTheBurstOrOfWhatWaits) {
  const int64_t us = 1000;
  PacedLine line(1000000, 10, 100);
  EXPECT_EQ(line.NextWake(0, 8), -1);
  const std::vector<uint8_t> data = Pattern(20);
  line.Push(0, data.data(), 20);
  EXPECT_EQ(line.NextWake(0, 8), 80 * us);
  EXPECT_EQ(line.NextWake(0, 0), 10 * us);  // a burst is at least one byte
  EXPECT_EQ(line.NextWake(85 * us, 8), 160 * us);
  EXPECT_EQ(line.NextWake(165 * us, 8), 200 * us);  // the last 4 bytes
  EXPECT_EQ(line.NextWake(200 * us, 8), -1);        // all crossed, none released yet
}

}  // namespace
}  // namespace quarnex
