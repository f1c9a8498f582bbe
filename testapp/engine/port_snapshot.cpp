#include "testapp/engine/port_snapshot.h"

#include <algorithm>
#include <limits>

#include "testapp/driver/line_rate.h"
#include "testapp/engine/first_mismatch.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/verdict.h"
#include "testapp/report/row_text.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

// Counts `c` one more failed packet of `kind`, as the judging thread counts
// a transfer the blocked-transfer timeout ended.
void CountOverdueTimeout(TimeoutKind kind, PortCounters* c) {
  c->OverdueTimeout = kind;
  // It is the port's last packet: the row says how it failed.
  c->LastStatus = kind == kTimeoutRead ? PacketStatus::kReadTimeout : PacketStatus::kWriteTimeout;
  c->LastStatusLength = 0;
  ++c->PacketCount;
  ++c->ErrorCount;
  if (kind == kTimeoutRead) {
    ++c->ReadFailedCount;
    ++c->ReadTimeoutCount;
  } else {
    ++c->WriteFailedCount;
    ++c->WriteTimeoutCount;
  }
}

// The packet in flight: a transfer that the device has not finished and
// that has been watched longer than the line needs counts as a timeout
// now, so a byte lost just before the end of a run is not lost from its
// figures; past the stall limit the port is stalled. A transfer the device
// finished but its thread has not judged yet is the tester's delay, not
// the line's.
void JudgeAwaitedTransfer(const PortContext& port, PortCounters* c) {
  const double expected = port.Run->run.ExpectedPacketTime.load();
  AwaitedTransfer awaited = AwaitedTransferOf(port, MsClock());
  // Before blaming the line: was the tester itself held up just now?
  if (awaited.kind != kTimeoutNone && awaited.watched_ms > OverdueLimitMs(expected)) {
    SettleHoldUps(port.Run->run);
    awaited = AwaitedTransferOf(port, MsClock());
  }
  double stalled_ms = port.LongestStallMs.load();
  if (awaited.kind != kTimeoutNone && !awaited.completed && port.Lost.load() == 0) {
    if (awaited.watched_ms > OverdueLimitMs(expected)) CountOverdueTimeout(awaited.kind, c);
    if (awaited.watched_ms > StallLimitMs(expected)) {
      stalled_ms = std::max(stalled_ms, awaited.watched_ms);
    }
  }
  c->Stalled = stalled_ms > 0.0;
  c->StalledMs = stalled_ms;
}

}  // namespace

PortCounters SnapshotPort(const PortContext& port, int32_t port_number) {
  PortCounters c;
  c.PortNumber = port_number;
  // The status before the counters: they then hold its packet (verdict.cpp).
  const uint64_t status = port.LastStatus.load(std::memory_order_acquire);
  c.LastStatus = PackedStatusOf(status);
  c.LastStatusLength = PackedLengthOf(status);
  for (size_t i = 0; i < kPacketCounterCount; ++i) {
    c.*kPacketCounterFields[i].member = (port.*kLivePacketCounters[i]).load();
  }
  c.TotalPacketTime = port.TotalPacketTime.load();
  for (size_t kind = 0; kind < c.LineErrorCount.size(); ++kind) {
    c.LineErrorCount[kind] = port.LineErrorCount[kind].load();
  }
  c.ReadTimeoutCount = port.ReadTimeoutCount.load();
  c.WriteTimeoutCount = port.WriteTimeoutCount.load();
  c.Mismatch = FirstMismatchOf(port);
  c.Open = port.InUse.load() == 1;
  const int32_t pause_after = port.Run->settings.Test.PauseAfter;
  c.Ended = pause_after > 0 && c.PacketCount >= pause_after;
  c.Lost = port.Lost.load() != 0;
  JudgeAwaitedTransfer(port, &c);
  c.NotOpened = port.NotOpened;
  if (c.NotOpened) {
    c.OpenPath = port.OpenPath;
    c.OpenReason = port.OpenReason;
  }
  return c;
}

std::vector<PortCounters> SnapshotOpenPorts(const RunContext& context) {
  const int32_t first = context.settings.Test.PortIndex;
  std::vector<PortCounters> open_ports;
  for (int i = 0; i < context.SlotsInRange(); ++i) {
    const PortContext& port = context.run.Ports[i];
    if (port.InUse.load() == 1) open_ports.push_back(SnapshotPort(port, first + i));
  }
  return open_ports;
}

RunSnapshot TakeRunSnapshot(const RunContext& context, double elapsed_s) {
  const Settings& s = context.settings;
  RunSnapshot snapshot;
  snapshot.ElapsedSeconds = elapsed_s;
  snapshot.ExpectedPacketTime = context.run.ExpectedPacketTime.load();
  snapshot.PacketsPerJudged =
      PacketsPerJudgedPacket(s.Test.FileNameLength != 0, s.Test.FileSize, s.PacketSize);
  snapshot.HeldUpMaxMs = context.run.HeldUpMaxMs.load();
  const int slots = context.SlotsInRange();
  snapshot.Ports.resize(static_cast<size_t>(slots));
  for (int i = 0; i < slots; ++i) {
    const PortContext& port = context.run.Ports[i];
    PortSnapshot& taken = snapshot.Ports[static_cast<size_t>(i)];
    taken.Slot = i;
    taken.Row = port.Row;
    // Saturated: such a port never opens, and the sum must not overflow.
    const auto number = static_cast<int32_t>(
        std::min<int64_t>(int64_t{s.Test.PortIndex} + i, std::numeric_limits<int32_t>::max()));
    taken.Counters.PortNumber = number;
    if (port.Row < 0) continue;  // not part of this run's table
    taken.Counters = SnapshotPort(port, number);
    taken.Opened = !port.NotOpened;
    if (!taken.Opened) continue;
    taken.LastPacketTime = port.LastPacketTime.load();
    taken.MaxPacketTime = port.MaxPacketTime.load();
  }
  return snapshot;
}

RunLineRates CollectLineRates(const RunContext& context, int32_t asked) {
  const int32_t first = context.settings.Test.PortIndex;
  const uint32_t block_rate = static_cast<uint32_t>(asked);
  RunLineRates result;
  for (int i = 0; i < context.SlotsInRange(); ++i) {
    const PortContext& port = context.run.Ports[i];
    if (port.InUse.load() != 1) continue;
    const uint32_t rate = port.LineBitRate != 0 ? port.LineBitRate : block_rate;
    result.rates.push_back(rate);
    if (rate != block_rate) {
      result.notices.push_back(LineRateNotice(PortLabel(first + i), block_rate, rate));
    }
  }
  return result;
}

void ReportRunStart(const RunContext& context, LogFile& log, ResultsView& view) {
  const Settings& s = context.settings;
  const int32_t asked = BlockBitRate(context.block);
  const RunLineRates lines = CollectLineRates(context, asked);
  if (log.IsOpen()) WriteStartRecord(log, s.Test, s.PacketSize, s.Port, lines.notices);
  view.SetStatus(kStatusState,
                 s.Test.Mode == kReceiveOnly ? kStatusReadyToReceive : kStatusRunning);
  view.SetStatus(kStatusSummary,
                 FormatSettingsSummary(LineRateText(asked, lines.rates), s.Port.ByteSize,
                                       s.Port.Parity, s.PacketSize));
}

}  // namespace quarnex
