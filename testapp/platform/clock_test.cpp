#include "testapp/platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace quarnex {
namespace {

TEST(ClockTest, MeasuresElapsedMillisecondsMonotonically) {
  const double a = SteadyMilliseconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double b = SteadyMilliseconds();
  EXPECT_GE(b - a, 19.9);
  EXPECT_LT(b - a, 2000.0);
  // Sub-millisecond resolution: readings fall between whole milliseconds,
  // which a clock of whole ones never gives. (How close two readings come
  // is the machine's: a busy one may pause the thread between them.)
  bool between = false;
  for (int i = 0; i < 1000 && !between; ++i) between = std::fmod(SteadyMilliseconds(), 1.0) != 0.0;
  EXPECT_TRUE(between);
}

}  // namespace
}  // namespace quarnex
