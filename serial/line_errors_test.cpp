#include "serial/line_errors.h"

#include <gtest/gtest.h>

#include "testapp/driver/device.h"

namespace quarnex {
namespace {

TEST(LineErrorMaskTest, EachGrownCounterRaisesItsFlag) {
  const LineErrorCounters before{10, 20, 30, 40, 50};
  struct Case {
    LineErrorCounters now;
    uint32_t mask;
  };
  const Case cases[] = {
      {{10, 20, 30, 40, 50}, 0},
      {{11, 20, 30, 40, 50}, kCeFrame},
      {{10, 25, 30, 40, 50}, kCeRxParity},
      {{10, 20, 31, 40, 50}, kCeOverrun},
      {{10, 20, 30, 41, 50}, kCeRxOver},
      {{10, 20, 30, 40, 52}, kCeBreak},
      {{12, 20, 33, 40, 51}, kCeFrame | kCeOverrun | kCeBreak},
      {{11, 21, 31, 41, 51}, kCeFrame | kCeRxParity | kCeOverrun | kCeRxOver | kCeBreak},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LineErrorMask(before, c.now), c.mask)
        << c.now.frame << " " << c.now.parity << " " << c.now.overrun << " " << c.now.buf_overrun
        << " " << c.now.brk;
  }
}

TEST(LineErrorMaskTest, WrappedCounterStillCounts) {
  const LineErrorCounters before{0xFFFFFFFFu, 0, 0, 0, 0xFFFFFFFEu};
  const LineErrorCounters now{1, 0, 0, 0, 0xFFFFFFFEu};
  EXPECT_EQ(LineErrorMask(before, now), kCeFrame);
}

TEST(LineErrorMaskTest, DeltasAreAgainstThePreviousQueryOnly) {
  // Three queries in a row, as ClearCommError makes them: an error seen once
  // is not reported again.
  const LineErrorCounters first{0, 0, 0, 0, 0};
  const LineErrorCounters second{0, 3, 0, 0, 0};
  const LineErrorCounters third{0, 3, 0, 1, 0};
  EXPECT_EQ(LineErrorMask(first, second), kCeRxParity);
  EXPECT_EQ(LineErrorMask(second, third), kCeRxOver);
  EXPECT_EQ(LineErrorMask(third, third), 0u);
}

}  // namespace
}  // namespace quarnex
