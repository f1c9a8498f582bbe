#include "testapp/platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace quarnex {
namespace {

TEST(ClockTest, MeasuresElapsedMillisecondsMonotonically) {
  const double a = SteadyMilliseconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double b = SteadyMilliseconds();
  EXPECT_GE(b - a, 19.9);
  EXPECT_LT(b - a, 2000.0);
  // Sub-millisecond resolution: two close readings differ by a fraction.
  double c = SteadyMilliseconds(), d = c;
  while (d == c) d = SteadyMilliseconds();
  EXPECT_LT(d - c, 1.0);
}

}  // namespace
}  // namespace quarnex
