// The clock source behind MsClock: a steady, high-resolution clock.
#ifndef QUARNEX_PLATFORM_CLOCK_H_
#define QUARNEX_PLATFORM_CLOCK_H_

namespace quarnex {

// Milliseconds as a double from a steady high-resolution clock. Only
// differences carry meaning; the origin is arbitrary. Safe from any thread.
double SteadyMilliseconds();

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_CLOCK_H_
