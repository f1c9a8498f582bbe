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

std::string TimeCell(const PortContext& port, double total_ms, int64_t good_packets) {
  if (port.PacketOk.load() != 1) return kNotAvailable;
  const double average = total_ms / static_cast<double>(good_packets);
  return TimeCellText(average, port.LastPacketTime.load(), port.MaxPacketTime.load(),
                      port.Run->run.ExpectedPacketTime.load(),
                      RunPacketsPerJudgedPacket(port.Run->settings));
}

std::string StatusCell(const PortContext& port) {
  if (port.Lost.load() != 0) return kStatusPortLost;
  // No verdict yet: the results say nothing of a write or read that failed.
  if (port.GoodPacketCount.load() == 0 && port.ErrorCount.load() == 0) return "";
  if (port.PacketOk.load() != 1) {
    const int32_t timeout = port.LastTimeout.load();
    if (timeout == kTimeoutRead) return kStatusReadTimeout;
    if (timeout == kTimeoutWrite) return kStatusWriteTimeout;
  }
  const int32_t read_result = port.LastReadResult.load();
  return StatusCellText(port.PacketOk.load() == 1, WriteIsFull(port.LastWriteResult.load()),
                        ReadIsFull(read_result), read_result == kReadLengthMismatch,
                        port.Run->settings.Test.Mode == kReceiveOnly, port.LastReadLength.load());
}

void UpdateRow(PortContext& port) {
  ResultsView& view = port.Run->View();
  const int64_t packets = port.PacketCount.load();
  port.ShownPacketCount = packets;
  view.SetCell(port.Row, kColumnPackets, FormatC("%" PRId64, packets));
  view.SetCell(port.Row, kColumnErrors, FormatC("%" PRId64, port.ErrorCount.load()));
  view.SetCell(port.Row, kColumnTime,
               TimeCell(port, port.TotalPacketTime.load(), port.GoodPacketCount.load()));
  view.SetCell(port.Row, kColumnStatus, StatusCell(port));
}

}  // namespace quarnex
