#include "testapp/engine/row_update.h"

#include <cinttypes>
#include <cstdint>
#include <string>

#include "testapp/engine/receiver.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/transmitter.h"
#include "testapp/report/results_view.h"
#include "testapp/report/row_text.h"
#include "testapp/report/text_format.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

double RunPacketsPerJudgedPacket() {
  const Settings& s = GlobalSettings();
  return PacketsPerJudgedPacket(s.Test.FileNameLength != 0, s.Test.FileSize, s.PacketSize);
}

std::string TimeCell(const PortContext& port) {
  if (port.PacketOk.load() != 1) return kNotAvailable;
  const double average =
      port.TotalPacketTime.load() / static_cast<double>(port.GoodPacketCount.load());
  return TimeCellText(average, port.LastPacketTime.load(), port.MaxPacketTime.load(),
                      Run().ExpectedPacketTime.load(), RunPacketsPerJudgedPacket());
}

std::string StatusCell(const PortContext& port) {
  if (port.Lost.load() != 0) return kStatusPortLost;
  if (port.PacketOk.load() != 1) {
    const int32_t timeout = port.LastTimeout.load();
    if (timeout == kTimeoutRead) return kStatusReadTimeout;
    if (timeout == kTimeoutWrite) return kStatusWriteTimeout;
  }
  const int32_t read_result = port.LastReadResult.load();
  return StatusCellText(port.PacketOk.load() == 1, WriteIsFull(port.LastWriteResult.load()),
                        ReadIsFull(read_result), read_result == kReadLengthMismatch,
                        GlobalSettings().Test.Mode == kReceiveOnly, port.LastReadLength.load());
}

}  // namespace

void UpdateRow(PortContext& port) {
  ResultsView& view = EngineView();
  view.SetCell(port.Row, kColumnPackets, FormatC("%" PRId64, port.PacketCount.load()));
  view.SetCell(port.Row, kColumnErrors, FormatC("%" PRId64, port.ErrorCount.load()));
  view.SetCell(port.Row, kColumnTime, TimeCell(port));
  view.SetCell(port.Row, kColumnStatus, StatusCell(port));
}

}  // namespace quarnex
