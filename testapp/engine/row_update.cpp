#include "testapp/engine/row_update.h"

#include <cinttypes>
#include <cstdint>
#include <string>

#include "testapp/engine/receiver.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/transmitter.h"
#include "testapp/report/results_view.h"
#include "testapp/report/row_text.h"
#include "testapp/report/text_format.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

double RunPacketsPerJudgedPacket(const Settings& s) {
  return PacketsPerJudgedPacket(s.Test.FileNameLength != 0, s.Test.FileSize, s.PacketSize);
}

}  // namespace

PortCounters RowCounters(const PortContext& port) {
  PortCounters c;
  const uint64_t status = port.LastStatus.load(std::memory_order_acquire);
  c.LastStatus = PackedStatusOf(status);
  c.LastStatusLength = PackedLengthOf(status);
  c.PacketCount = port.PacketCount.load();
  c.GoodPacketCount = port.GoodPacketCount.load();
  c.ErrorCount = port.ErrorCount.load();
  c.TotalPacketTime = port.TotalPacketTime.load();
  c.Lost = port.Lost.load() != 0;
  return c;
}

std::string TimeCell(const PortContext& port, const PortCounters& counters) {
  return RowTimeText(counters, port.LastPacketTime.load(), port.MaxPacketTime.load(),
                     port.Run->run.ExpectedPacketTime.load(),
                     RunPacketsPerJudgedPacket(port.Run->settings));
}

std::string StatusCell(const PortContext& port) { return RowStatusText(RowCounters(port)); }

void UpdateRow(PortContext& port) {
  ResultsView& view = port.Run->View();
  const PortCounters counters = RowCounters(port);
  port.ShownPacketCount = counters.PacketCount;
  view.SetCell(port.Row, kColumnPackets, FormatC("%" PRId64, counters.PacketCount));
  view.SetCell(port.Row, kColumnErrors, FormatC("%" PRId64, counters.ErrorCount));
  view.SetCell(port.Row, kColumnTime, TimeCell(port, counters));
  view.SetCell(port.Row, kColumnStatus, RowStatusText(counters));
}

}  // namespace quarnex
