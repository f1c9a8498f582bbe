#include "testapp/engine/row_update.h"

#include <cstdint>
#include <string>

#include "testapp/engine/receiver.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transmitter.h"
#include "testapp/report/results_view.h"
#include "testapp/report/row_text.h"
#include "testapp/report/text_format.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

// In file mode one judged packet is the whole file, so the throughput counts
// the file's whole packets; otherwise one packet.
uint32_t PacketsPerJudgedPacket() {
  const TestSettings& test = GlobalSettings().Test;
  if (test.FileNameLength == 0) return 1;
  const auto packet_size = static_cast<uint32_t>(GlobalSettings().PacketSize);
  return packet_size == 0 ? 0 : test.FileSize / packet_size;
}

std::string TimeCell(const PortContext& port) {
  if (port.PacketOk.load() != 1) return kNotAvailable;
  const double average = port.TotalPacketTime.load() / port.GoodPacketCount.load();
  return TimeCellText(average, port.LastPacketTime.load(), port.MaxPacketTime.load(),
                      Run().ExpectedPacketTime.load(), PacketsPerJudgedPacket());
}

std::string StatusCell(const PortContext& port) {
  const int32_t read_result = port.LastReadResult.load();
  return StatusCellText(port.PacketOk.load() == 1, WriteIsFull(port.LastWriteResult.load()),
                        ReadIsFull(read_result), read_result == kReadLengthMismatch,
                        GlobalSettings().Test.Mode == kReceiveOnly, port.LastReadLength.load());
}

}  // namespace

void UpdateRow(PortContext& port) {
  ResultsView& view = EngineView();
  view.SetCell(port.Row, kColumnPackets, FormatC("%d", port.PacketCount.load()));
  view.SetCell(port.Row, kColumnErrors, FormatC("%d", port.ErrorCount.load()));
  view.SetCell(port.Row, kColumnTime, TimeCell(port));
  view.SetCell(port.Row, kColumnStatus, StatusCell(port));
}

}  // namespace quarnex
