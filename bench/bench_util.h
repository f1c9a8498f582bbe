// Small helpers shared by the benchmark programs.
#ifndef QUARNEX_BENCH_BENCH_UTIL_H_
#define QUARNEX_BENCH_BENCH_UTIL_H_

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace quarnex {

// The median of the rounds' figures (the upper one of an even count), which
// a single disturbed round on a shared machine does not move.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The text after `prefix` when `arg` starts with it ("--seconds=" in
// "--seconds=3" gives "3"), else null. The result points into `arg`.
inline const char* OptionValue(const std::string& arg, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return arg.compare(0, n, prefix) == 0 ? arg.c_str() + n : nullptr;
}

}  // namespace quarnex

#endif  // QUARNEX_BENCH_BENCH_UTIL_H_
