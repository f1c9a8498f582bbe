// What the 128-port benches share: every port of the simulated adapter on
// an unpaced line, and the count of packets the run has judged so far.
#ifndef QUARNEX_BENCH_FULL_ADAPTER_H_
#define QUARNEX_BENCH_FULL_ADAPTER_H_

#include <cstddef>

#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"

namespace quarnex {

inline constexpr int kBenchPorts = 128;
// The QUARNEX_SIM value of an adapter with ports 1 to 128, all looped.
inline constexpr char kBenchSim[] = "ports=1-128";
// quarnex.cfg: 8-bit characters, no parity, and no BitRate line: the line
// is unpaced.
inline constexpr char kUnpacedConfig[] = "RxCharacterSize=3\nTxCharacterSize=3\nParity=0\n";

// The packets of the run's first kBenchPorts ports so far.
inline long long TotalPackets(const RunContext& context) {
  long long total = 0;
  for (int i = 0; i < kBenchPorts; ++i) {
    total += context.run.Ports[static_cast<size_t>(i)].PacketCount.load();
  }
  return total;
}

}  // namespace quarnex

#endif  // QUARNEX_BENCH_FULL_ADAPTER_H_
