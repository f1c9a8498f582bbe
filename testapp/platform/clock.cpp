#include "testapp/platform/clock.h"

#include <chrono>

namespace quarnex {

double SteadyMilliseconds() {
  using Clock = std::chrono::steady_clock;
  static_assert(Clock::is_steady);
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
  return static_cast<double>(ns.count()) / 1e6;
}

}  // namespace quarnex
