#include "testapp/engine/port_snapshot.h"

#include "testapp/settings/settings_state.h"

namespace quarnex {

PortCounters SnapshotPort(const PortContext& port, int32_t port_number) {
  PortCounters c;
  c.PortNumber = port_number;
  c.PacketCount = port.PacketCount.load();
  c.GoodPacketCount = port.GoodPacketCount.load();
  c.ErrorCount = port.ErrorCount.load();
  c.WriteFailedCount = port.WriteFailedCount.load();
  c.WriteAbortedCount = port.WriteAbortedCount.load();
  c.ReadFailedCount = port.ReadFailedCount.load();
  c.ReadAbortedCount = port.ReadAbortedCount.load();
  c.LengthMismatchCount = port.LengthMismatchCount.load();
  c.DataMismatchCount = port.DataMismatchCount.load();
  c.TotalPacketTime = port.TotalPacketTime.load();
  return c;
}

std::vector<PortCounters> SnapshotOpenPorts() {
  const TestSettings& test = GlobalSettings().Test;
  const int slots = test.PortCount < 0 ? 0 : test.PortCount > kMaxPorts ? kMaxPorts : test.PortCount;
  std::vector<PortCounters> open_ports;
  for (int i = 0; i < slots; ++i) {
    const PortContext& port = Run().Ports[i];
    if (port.InUse.load() == 1) open_ports.push_back(SnapshotPort(port, test.PortIndex + i));
  }
  return open_ports;
}

}  // namespace quarnex
