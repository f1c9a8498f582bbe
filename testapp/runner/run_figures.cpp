#include "testapp/runner/run_figures.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/port_table.h"
#include "testapp/report/row_text.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

RunFigures TakeRunFigures(const RunContext& context, const CellStore& rows, double elapsed_s) {
  return TakeRunFigures(context, rows.Rows(), elapsed_s);
}

RunFigures TakeRunFigures(const RunContext& context, const std::vector<CellStore::RowTexts>& rows,
                          double elapsed_s) {
  const Settings& s = context.settings;
  const RunState& run = context.run;
  RunFigures figures;
  figures.elapsed_s = elapsed_s;
  figures.expected_packet_ms = run.ExpectedPacketTime.load();
  figures.packets_per_judged =
      PacketsPerJudgedPacket(s.Test.FileNameLength != 0, s.Test.FileSize, s.PacketSize);
  figures.held_up_max_ms = run.HeldUpMaxMs.load();

  const int slots = s.Test.PortCount < 0           ? 0
                    : s.Test.PortCount > kMaxPorts ? kMaxPorts
                                                   : s.Test.PortCount;
  figures.ports.resize(static_cast<size_t>(slots));
  for (int i = 0; i < slots; ++i) {
    PortFigures& port = figures.ports[static_cast<size_t>(i)];
    port.slot = i;
    // Saturated: such a port never opens, and the sum must not overflow.
    const auto number = static_cast<int32_t>(
        std::min<int64_t>(int64_t{s.Test.PortIndex} + i, std::numeric_limits<int32_t>::max()));
    port.label = PortLabel(number);
    port.counters.PortNumber = number;
  }
  std::vector<bool> has_row(static_cast<size_t>(slots), false);
  for (const CellStore::RowTexts& row : rows) {
    if (row.slot < 0 || row.slot >= slots) continue;
    PortFigures& port = figures.ports[static_cast<size_t>(row.slot)];
    has_row[static_cast<size_t>(row.slot)] = true;
    port.opened = !run.Ports[static_cast<size_t>(row.slot)].NotOpened;
    port.status = row.cells[kColumnStatus];
    port.last_comm_error = row.last_comm_error;
  }
  for (PortFigures& port : figures.ports) {
    if (!has_row[static_cast<size_t>(port.slot)]) continue;
    const PortContext& slot = run.Ports[static_cast<size_t>(port.slot)];
    port.counters = SnapshotPort(slot, port.counters.PortNumber);
    port.status = FiguresStatus(port.counters, port.status);
    if (!port.opened) continue;
    port.open = slot.InUse.load() == 1;
    port.last_ms = slot.LastPacketTime.load();
    port.max_ms = slot.MaxPacketTime.load();
    // As the snapshot counts it: a packet it judged overdue failed.
    port.packet_ok = port.counters.LastStatus == PacketStatus::kSuccess;
    port.read_timeouts = port.counters.ReadTimeoutCount;
    port.write_timeouts = port.counters.WriteTimeoutCount;
    port.lost = slot.Lost.load() != 0;
  }
  return figures;
}

std::string FiguresStatus(const PortCounters& counters, const std::string& row_status) {
  const bool told =
      counters.NotOpened || counters.Lost || counters.LastStatus != PacketStatus::kNone;
  return told ? RowStatusText(counters) : row_status;
}

std::optional<double> AveragePacketMs(const PortCounters& counters) {
  if (counters.GoodPacketCount <= 0) return std::nullopt;
  return counters.TotalPacketTime / counters.GoodPacketCount;
}

std::optional<double> ThroughputPct(std::optional<double> average_ms, double expected_packet_ms,
                                    double packets_per_judged) {
  if (!average_ms || !(*average_ms > 0.0)) return std::nullopt;
  if (!std::isfinite(expected_packet_ms) || !(expected_packet_ms > 0.0)) return std::nullopt;
  return ThroughputPercent(expected_packet_ms, *average_ms, packets_per_judged);
}

PortInterval IntervalOf(const PortFigures& now, const PortFigures& before, double seconds) {
  PortInterval interval;
  interval.packets = now.counters.PacketCount - before.counters.PacketCount;
  interval.good_packets = now.counters.GoodPacketCount - before.counters.GoodPacketCount;
  interval.errors = now.counters.ErrorCount - before.counters.ErrorCount;
  if (seconds > 0.0) interval.packets_per_s = interval.packets / seconds;
  if (interval.good_packets > 0) {
    interval.average_ms =
        (now.counters.TotalPacketTime - before.counters.TotalPacketTime) / interval.good_packets;
  }
  return interval;
}

std::vector<PortCounters> OpenPortCounters(const RunFigures& figures) {
  std::vector<PortCounters> open_ports;
  for (const PortFigures& port : figures.ports) {
    if (port.open) open_ports.push_back(port.counters);
  }
  return open_ports;
}

}  // namespace quarnex
