#include "testapp/report/run_totals.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

#include "testapp/report/results_view.h"
#include "testapp/report/row_text.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/report/text_format.h"

namespace quarnex {

RunTotals SumRunTotals(const std::vector<PortCounters>& ports, double expected_packet_ms,
                       double packets_per_judged) {
  RunTotals totals;
  for (const PortCounters& port : ports) {
    ++totals.Ports;
    totals.Packets += port.PacketCount;
    totals.Errors += port.ErrorCount;
    if (!port.Open) continue;
    ++totals.OpenPorts;
    const std::optional<double> figure =
        ThroughputPct(AveragePacketMs(port), expected_packet_ms, packets_per_judged);
    if (!figure) continue;
    if (!totals.LowestThroughputPct || *figure < *totals.LowestThroughputPct) {
      totals.LowestThroughputPct = figure;
    }
  }
  return totals;
}

std::array<std::string, kColumnCount> TotalRowTexts(const RunTotals& totals) {
  std::array<std::string, kColumnCount> cells;
  cells[kColumnPort] = "Total";
  cells[kColumnPackets] = FormatC("%" PRId64, totals.Packets);
  cells[kColumnErrors] = FormatC("%" PRId64, totals.Errors);
  cells[kColumnTime] = "Lowest T.P.: " + (totals.LowestThroughputPct
                                              ? ThroughputPercentText(*totals.LowestThroughputPct)
                                              : std::string(kNotAvailable));
  cells[kColumnStatus] = FormatC("%d %s, %d open", totals.Ports,
                                 totals.Ports == 1 ? "port" : "ports", totals.OpenPorts);
  return cells;
}

std::string ElapsedText(double seconds) {
  // Capped far beyond any run, so the conversion stays defined.
  constexpr double kLongest = 1e12;
  const int64_t whole = seconds > 0.0 ? static_cast<int64_t>(std::min(seconds, kLongest)) : 0;
  return FormatC("%" PRId64 ":%02d:%02d", whole / 3600, static_cast<int>(whole / 60 % 60),
                 static_cast<int>(whole % 60));
}

}  // namespace quarnex
