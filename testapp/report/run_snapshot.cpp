#include "testapp/report/run_snapshot.h"

#include <cmath>

#include "testapp/report/row_text.h"

namespace quarnex {

void AttachRowNotes(const std::vector<RowNotes>& rows, RunSnapshot* snapshot) {
  for (PortSnapshot& port : snapshot->Ports) {
    if (port.Row < 0 || static_cast<size_t>(port.Row) >= rows.size()) continue;
    const RowNotes& notes = rows[static_cast<size_t>(port.Row)];
    port.ProgressText = notes.StatusText;
    port.LastCommError = notes.LastCommError;
  }
}

std::optional<double> AveragePacketMs(const PortCounters& counters) {
  if (counters.GoodPacketCount <= 0) return std::nullopt;
  return counters.TotalPacketTime / static_cast<double>(counters.GoodPacketCount);
}

std::optional<double> ThroughputPct(std::optional<double> average_ms, double expected_packet_ms,
                                    double packets_per_judged) {
  if (!average_ms || !(*average_ms > 0.0)) return std::nullopt;
  if (!std::isfinite(expected_packet_ms) || !(expected_packet_ms > 0.0)) return std::nullopt;
  const double figure = ThroughputPercent(expected_packet_ms, *average_ms, packets_per_judged);
  if (std::isnan(figure)) return std::nullopt;
  return figure;
}

std::optional<double> PortThroughputPct(const RunSnapshot& run, const PortCounters& port) {
  return ThroughputPct(AveragePacketMs(port), run.ExpectedPacketTime, run.PacketsPerJudged);
}

bool LastPacketOk(const PortCounters& counters) {
  return counters.LastStatus == PacketStatus::kSuccess;
}

std::string PortTimeText(const RunSnapshot& run, const PortSnapshot& port) {
  return RowTimeText(port.Counters, port.LastPacketTime, port.MaxPacketTime, run.ExpectedPacketTime,
                     run.PacketsPerJudged);
}

std::string PortStatusText(const PortSnapshot& port) {
  const PortCounters& c = port.Counters;
  const bool told = c.NotOpened || c.Lost || c.LastStatus != PacketStatus::kNone;
  return told ? RowStatusText(c) : port.ProgressText;
}

std::vector<PortCounters> StopRecordPorts(const RunSnapshot& snapshot) {
  std::vector<PortCounters> open_ports;
  for (const PortSnapshot& port : snapshot.Ports) {
    if (port.Opened && port.Counters.Open) open_ports.push_back(port.Counters);
  }
  return open_ports;
}

PortInterval IntervalOf(const PortCounters& now, const PortCounters& before, double seconds) {
  PortInterval interval;
  interval.Packets = now.PacketCount - before.PacketCount;
  interval.GoodPackets = now.GoodPacketCount - before.GoodPacketCount;
  interval.Errors = now.ErrorCount - before.ErrorCount;
  if (seconds > 0.0) interval.PacketsPerSecond = static_cast<double>(interval.Packets) / seconds;
  if (interval.GoodPackets > 0) {
    interval.AverageMs =
        (now.TotalPacketTime - before.TotalPacketTime) / static_cast<double>(interval.GoodPackets);
  }
  return interval;
}

}  // namespace quarnex
