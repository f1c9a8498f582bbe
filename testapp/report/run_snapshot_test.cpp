#include "testapp/report/run_snapshot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testapp/report/row_text.h"

namespace quarnex {
namespace {

PortSnapshot OpenedPort(int32_t slot, int32_t row) {
  PortSnapshot port;
  port.Slot = slot;
  port.Row = row;
  port.Opened = true;
  port.Counters.PortNumber = slot;
  port.Counters.Open = true;
  return port;
}

// The Status cell is made from the status value, never from a text, except
// before the first verdict, when the row's own progress text stands.
TEST(PortStatusTextTest, EveryStatusValueAndWhatOutranksIt) {
  const struct {
    PacketStatus status;
    uint32_t length;
    bool not_opened, lost;
    const char* text;
  } kCases[] = {
      {PacketStatus::kNone, 0, false, false, "Sent 3 of 8 packets"},
      {PacketStatus::kSuccess, 0, false, false, "Success"},
      {PacketStatus::kWriteFailed, 0, false, false, "Write failed"},
      {PacketStatus::kReadFailed, 0, false, false, "Read failed"},
      {PacketStatus::kLengthMismatch, 17, false, false, "Length mismatch (17)"},
      {PacketStatus::kDataMismatch, 0, false, false, "Data mismatch"},
      {PacketStatus::kReadTimeout, 0, false, false, "Read timeout"},
      {PacketStatus::kWriteTimeout, 0, false, false, "Write timeout"},
      {PacketStatus::kSuccess, 0, false, true, "Port lost"},
      {PacketStatus::kNone, 0, false, true, "Port lost"},
      {PacketStatus::kNone, 0, true, false, "Not opened"},
  };
  for (const auto& c : kCases) {
    PortSnapshot port = OpenedPort(0, 0);
    port.ProgressText = "Sent 3 of 8 packets";
    port.Counters.LastStatus = c.status;
    port.Counters.LastStatusLength = c.length;
    port.Counters.NotOpened = c.not_opened;
    port.Counters.Lost = c.lost;
    EXPECT_EQ(PortStatusText(port), c.text) << static_cast<int>(c.status);
  }
}

TEST(PortTimeTextTest, TimesOfTheGoodPacketsOnlyAfterAGoodOne) {
  RunSnapshot run;
  run.ExpectedPacketTime = 853.333;
  PortSnapshot port = OpenedPort(0, 0);
  port.Counters.GoodPacketCount = 2;
  port.Counters.TotalPacketTime = 2000.0;
  port.LastPacketTime = 990.0;
  port.MaxPacketTime = 1010.0;
  port.Counters.LastStatus = PacketStatus::kSuccess;
  EXPECT_EQ(PortTimeText(run, port), "1000.0,  990.0,  1010.0  (85.4%)");
  ASSERT_TRUE(PortThroughputPct(run, port.Counters).has_value());
  EXPECT_DOUBLE_EQ(*PortThroughputPct(run, port.Counters), 85.3333);

  run.ExpectedPacketTime = 0.0;  // no bit rate
  EXPECT_EQ(PortTimeText(run, port), "1000.0,  990.0,  1010.0  (N.A.)");
  EXPECT_FALSE(PortThroughputPct(run, port.Counters).has_value());

  port.Counters.LastStatus = PacketStatus::kDataMismatch;
  EXPECT_EQ(PortTimeText(run, port), kNotAvailable);
}

// Notes go by the row a port has, not by its slot or number: a run whose
// first port could not be opened, a slot that got no row, ports numbered 0
// and past 99.
TEST(AttachRowNotesTest, ByRowNeverBySlotOrLabel) {
  RunSnapshot run;
  run.Ports = {OpenedPort(0, 1), OpenedPort(1, -1), OpenedPort(2, 0), OpenedPort(3, 5)};
  run.Ports[0].Counters.PortNumber = 0;
  run.Ports[2].Counters.PortNumber = 128;
  const std::vector<RowNotes> rows = {{"Sent 1 of 2 packets", "Framing error"}, {"", "Overrun"}};
  AttachRowNotes(rows, &run);
  EXPECT_EQ(run.Ports[0].ProgressText, "");
  EXPECT_EQ(run.Ports[0].LastCommError, "Overrun");
  EXPECT_EQ(run.Ports[1].LastCommError, "");
  EXPECT_EQ(run.Ports[2].ProgressText, "Sent 1 of 2 packets");
  EXPECT_EQ(run.Ports[2].LastCommError, "Framing error");
  EXPECT_EQ(run.Ports[3].LastCommError, "");  // its row is past the table's end
}

TEST(StopRecordPortsTest, OnlyPortsOpenedAndStillOpen) {
  RunSnapshot run;
  run.Ports = {OpenedPort(0, 0), OpenedPort(1, 1), OpenedPort(2, 2), OpenedPort(3, -1)};
  run.Ports[1].Opened = false;  // could not be opened
  run.Ports[1].Counters.NotOpened = true;
  run.Ports[1].Counters.Open = false;
  run.Ports[2].Counters.Open = false;  // closed since
  run.Ports[3].Opened = false;         // no row
  run.Ports[3].Counters.Open = false;
  const std::vector<PortCounters> stop = StopRecordPorts(run);
  ASSERT_EQ(stop.size(), 1u);
  EXPECT_EQ(stop[0].PortNumber, 0);
}

TEST(IntervalOfTest, DifferencesAndTheIntervalsOwnAverage) {
  PortCounters before;
  before.PacketCount = 10;
  before.GoodPacketCount = 9;
  before.ErrorCount = 1;
  before.TotalPacketTime = 90.0;
  PortCounters now = before;
  now.PacketCount = 30;
  now.GoodPacketCount = 27;
  now.ErrorCount = 3;
  now.TotalPacketTime = 90.0 + 18 * 20.0;
  const PortInterval d = IntervalOf(now, before, 2.0);
  EXPECT_EQ(d.Packets, 20);
  EXPECT_EQ(d.GoodPackets, 18);
  EXPECT_EQ(d.Errors, 2);
  EXPECT_DOUBLE_EQ(d.PacketsPerSecond, 10.0);
  ASSERT_TRUE(d.AverageMs.has_value());
  EXPECT_DOUBLE_EQ(*d.AverageMs, 20.0);

  const PortInterval idle = IntervalOf(before, before, 0.0);
  EXPECT_DOUBLE_EQ(idle.PacketsPerSecond, 0.0);
  EXPECT_FALSE(idle.AverageMs.has_value());
}

}  // namespace
}  // namespace quarnex
