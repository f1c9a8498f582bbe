// The total row under the results table and the run's elapsed time: sums
// over the ports of a snapshot, and their texts.
//
// Pure functions; any thread.
#ifndef QUARNEX_REPORT_RUN_TOTALS_H_
#define QUARNEX_REPORT_RUN_TOTALS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testapp/report/port_counters.h"
#include "testapp/settings/records.h"

namespace quarnex {

struct RunTotals {
  int Ports = 0;      // ports with a row
  int OpenPorts = 0;  // of those, still open
  int64_t Packets = 0;
  int64_t Errors = 0;
  // The lowest throughput figure (ThroughputPercent) among the open ports
  // that have one; empty when none has.
  std::optional<double> LowestThroughputPct;
};

// Sums `ports`; the throughput of each is its average good packet time
// against `expected_packet_ms`, times `packets_per_judged`, as its row
// computes it.
RunTotals SumRunTotals(const std::vector<PortCounters>& ports, double expected_packet_ms,
                       double packets_per_judged);

// The cells of the total row, in column order: "Total", the packets, the
// errors, "Lowest T.P.: 97.4%" (or "Lowest T.P.: N.A."), "N ports, M open",
// and an empty last cell.
std::array<std::string, kColumnCount> TotalRowTexts(const RunTotals& totals);

// "H:MM:SS" for `seconds` (negative counts as 0), e.g. "0:01:05".
std::string ElapsedText(double seconds);

}  // namespace quarnex

#endif  // QUARNEX_REPORT_RUN_TOTALS_H_
