#include "testapp/report/run_totals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "testapp/report/results_view.h"

namespace quarnex {
namespace {

PortCounters Port(int64_t packets, int64_t errors, double total_ms, bool open) {
  PortCounters port;
  port.PacketCount = packets;
  port.ErrorCount = errors;
  port.GoodPacketCount = packets - errors;
  port.TotalPacketTime = total_ms;
  port.Open = open;
  return port;
}

TEST(RunTotalsTest, SumsEveryPortAndTakesTheLowestThroughputOfTheOpenOnes) {
  // Expected 10 ms a packet: averages of 10, 12.5 and 20 ms give 100 %,
  // 80 % and 50 %; the 50 % port is closed, so 80 % is the lowest.
  const std::vector<PortCounters> ports = {
      Port(100, 0, 1000.0, true), Port(90, 10, 1000.0, true), Port(50, 0, 1000.0, false),
      Port(7, 7, 0.0, true),  // no good packet: no figure
  };
  const RunTotals totals = SumRunTotals(ports, 10.0, 1.0);
  EXPECT_EQ(totals.Ports, 4);
  EXPECT_EQ(totals.OpenPorts, 3);
  EXPECT_EQ(totals.Packets, 247);
  EXPECT_EQ(totals.Errors, 17);
  ASSERT_TRUE(totals.LowestThroughputPct.has_value());
  EXPECT_DOUBLE_EQ(*totals.LowestThroughputPct, 80.0);

  const auto cells = TotalRowTexts(totals);
  EXPECT_EQ(cells[kColumnPort], "Total");
  EXPECT_EQ(cells[kColumnPackets], "247");
  EXPECT_EQ(cells[kColumnErrors], "17");
  EXPECT_EQ(cells[kColumnTime], "Lowest T.P.: 80.0%");
  EXPECT_EQ(cells[kColumnStatus], "4 ports, 3 open");
  EXPECT_EQ(cells[kColumnLastCommError], "");
}

TEST(RunTotalsTest, NoFigureWithoutABitRateOrAGoodPacket) {
  const std::vector<PortCounters> ports = {Port(10, 0, 100.0, true)};
  for (double expected : {0.0, double{INFINITY}}) {
    const RunTotals totals = SumRunTotals(ports, expected, 1.0);
    EXPECT_FALSE(totals.LowestThroughputPct.has_value()) << expected;
    EXPECT_EQ(TotalRowTexts(totals)[kColumnTime], "Lowest T.P.: N.A.");
  }
  EXPECT_EQ(TotalRowTexts(SumRunTotals({Port(3, 3, 0.0, true)}, 10.0, 1.0))[kColumnStatus],
            "1 port, 1 open");
  EXPECT_EQ(TotalRowTexts(SumRunTotals({}, 10.0, 1.0))[kColumnPackets], "0");
}

TEST(RunTotalsTest, TheFileFactorCountsAsInTheRow) {
  // One judged packet of a file carries 9.77 packets' line time: 100 ms
  // for a whole file against 10 ms a packet is 97.7 %, not 10 %.
  const RunTotals totals = SumRunTotals({Port(4, 0, 400.0, true)}, 10.0, 9.77);
  ASSERT_TRUE(totals.LowestThroughputPct.has_value());
  EXPECT_NEAR(*totals.LowestThroughputPct, 97.7, 1e-9);
}

TEST(RunTotalsTest, ElapsedText) {
  const std::pair<double, const char*> cases[] = {
      {0.0, "0:00:00"},      {59.9, "0:00:59"}, {65.0, "0:01:05"}, {3600.0, "1:00:00"},
      {90061.0, "25:01:01"}, {-3.0, "0:00:00"}, {NAN, "0:00:00"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(ElapsedText(seconds), text) << seconds;
}

}  // namespace
}  // namespace quarnex
