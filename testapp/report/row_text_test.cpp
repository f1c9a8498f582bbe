#include "testapp/report/row_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace quarnex {
namespace {

TEST(PortLabelTest, AtLeastTwoDigits) {
  EXPECT_EQ(PortLabel(1), "Quarnex01");
  EXPECT_EQ(PortLabel(12), "Quarnex12");
  EXPECT_EQ(PortLabel(128), "Quarnex128");
}

TEST(TimeCellTextTest, TimesAndThroughput) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double average, last, max, expected;
    double factor;
    const char* text;
  } kCases[] = {
      // 8 bits, no parity, 1024 bytes at 9600 bit/s; 85.33 + 0.05 shows 85.4.
      {1000.0, 990.0, 1010.0, 853.333, 1, "1000.0,  990.0,  1010.0  (85.4%)"},
      // A file of 10000 bytes in 1024-byte packets: one judged packet is
      // 10000 / 1024 packets, the last partial one by its share.
      {1000.0, 990.0, 1010.0, 853.333, PacketsPerJudgedPacket(true, 10000, 1024),
       "1000.0,  990.0,  1010.0  (833.4%)"},
      {8333.34, 8333.34, 8333.34, 853.333, PacketsPerJudgedPacket(true, 10000, 1024),
       "8333.3,  8333.3,  8333.3  (100.0%)"},
      // No bit rate: no ideal time to compare with, the times stay.
      {12.34, 12.0, 13.06, 0.0, 1, "12.3,  12.0,  13.1  (N.A.)"},
      {12.34, 12.0, 13.06, kInf, 1, "12.3,  12.0,  13.1  (N.A.)"},
      // An average of zero would make the figure infinite.
      {0.0, 0.0, 0.0, 853.333, 1, "0.0,  0.0,  0.0  (N.A.)"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(TimeCellText(c.average, c.last, c.max, c.expected, c.factor), c.text)
        << "expected " << c.expected << " factor " << c.factor;
  }
}

TEST(ThroughputPercentTest, UnroundedFigureOrNaN) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double expected, average, factor;
    double percent;  // NaN: no figure
  } kCases[] = {
      {853.333, 1000.0, 1, 85.3333}, {853.333, 1000.0, 10000.0 / 1024.0, 833.3330078125},
      {0.0, 12.34, 1, NAN},          {kInf, 12.34, 1, NAN},
      {853.333, 0.0, 1, NAN},        {853.333, NAN, 1, NAN},
  };
  for (const auto& c : kCases) {
    const double got = ThroughputPercent(c.expected, c.average, c.factor);
    if (std::isnan(c.percent)) {
      EXPECT_TRUE(std::isnan(got)) << "expected " << c.expected << " average " << c.average;
    } else {
      EXPECT_NEAR(got, c.percent, 1e-9) << "expected " << c.expected << " average " << c.average;
    }
  }
}

TEST(PacketsPerJudgedPacketTest, ExactRatioInFileModeOnly) {
  EXPECT_EQ(PacketsPerJudgedPacket(false, 10000, 1024), 1.0);
  EXPECT_EQ(PacketsPerJudgedPacket(true, 10000, 1024), 10000.0 / 1024.0);
  EXPECT_EQ(PacketsPerJudgedPacket(true, 512, 512), 1.0);
  EXPECT_EQ(PacketsPerJudgedPacket(true, 512, 0), 0.0);
}

TEST(StatusCellTextTest, ClassifiesTheLastPacket) {
  const struct {
    bool packet_ok, write_full, read_full, length_mismatch, receive_only;
    uint32_t last_read_length;
    const char* text;
  } kCases[] = {
      {true, false, false, false, false, 0, "Success"},
      {false, false, true, false, false, 0, "Write failed"},
      {false, false, false, true, false, 10, "Write failed"},
      // Receive only never writes: its failures are judged by the read alone.
      {false, false, false, false, true, 0, "Read failed"},
      {false, false, false, true, true, 17, "Length mismatch (17)"},
      {false, false, true, false, true, 0, "Data mismatch"},
      {false, true, false, true, false, 1023, "Length mismatch (1023)"},
      {false, true, true, false, false, 0, "Data mismatch"},
      {false, true, false, false, false, 0, "Read failed"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(StatusCellText(c.packet_ok, c.write_full, c.read_full, c.length_mismatch,
                             c.receive_only, c.last_read_length),
              c.text);
  }
}

// The Status and Time cells made from a snapshot's counters: the status
// its last counted packet came to, "Port lost" and "Not opened" before it.
TEST(RowStatusTextTest, NamesTheStatusTheCountersHold) {
  const struct {
    PacketStatus status;
    uint32_t length;
    bool lost, not_opened;
    const char* text;
  } kCases[] = {
      {PacketStatus::kNone, 0, false, false, ""},
      {PacketStatus::kSuccess, 0, false, false, "Success"},
      {PacketStatus::kWriteFailed, 0, false, false, "Write failed"},
      {PacketStatus::kReadFailed, 0, false, false, "Read failed"},
      {PacketStatus::kLengthMismatch, 700, false, false, "Length mismatch (700)"},
      {PacketStatus::kDataMismatch, 0, false, false, "Data mismatch"},
      {PacketStatus::kReadTimeout, 0, false, false, "Read timeout"},
      {PacketStatus::kWriteTimeout, 0, false, false, "Write timeout"},
      {PacketStatus::kDataMismatch, 0, true, false, "Port lost"},
      {PacketStatus::kNone, 0, false, true, "Not opened"},
  };
  for (const auto& c : kCases) {
    PortCounters counters;
    counters.LastStatus = c.status;
    counters.LastStatusLength = c.length;
    counters.Lost = c.lost;
    counters.NotOpened = c.not_opened;
    EXPECT_EQ(RowStatusText(counters), c.text);
    counters.GoodPacketCount = 2;
    counters.TotalPacketTime = 20.0;
    EXPECT_EQ(RowTimeText(counters, 9.0, 11.0, 5.0, 1.0),
              c.status == PacketStatus::kSuccess ? "10.0,  9.0,  11.0  (50.0%)" : "N.A.");
  }
}

TEST(FormatSettingsSummaryTest, BitRateCharacterParityAndPacketSize) {
  const struct {
    int32_t bit_rate;
    int byte_size, parity;
    int32_t packet_size;
    const char* text;
  } kCases[] = {
      {9600, 8, 0, 1024, "9600    8N       1024"},
      {115200, 7, 1, 16, "115200    7O       16"},
      {0, 5, 2, 65536, "0    5E       65536"},
      {64000, 6, 3, 1, "64000    6M       1"},
      {64000, 8, 4, 1, "64000    8S       1"},
      // No letter for an unknown parity: the size runs straight into the blanks.
      {9600, 8, 9, 1024, "9600    8       1024"},
      {9600, 8, -1, 1024, "9600    8       1024"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(FormatSettingsSummary(c.bit_rate, c.byte_size, c.parity, c.packet_size), c.text);
  }
}

TEST(LineRateTextTest, ShowsTheRateTheLinesReallyRunAt) {
  const struct {
    int32_t asked;
    std::vector<uint32_t> line_rates;
    const char* text;
  } kCases[] = {
      {115200, {}, "115200"},
      {115200, {115200, 115200}, "115200"},
      // A driver that rounds every port alike: the status bar shows its rate.
      {115200, {115384, 115384}, "115384"},
      // Ports that disagree: the range, lowest first.
      {115200, {115384, 115200, 111111}, "111111-115384"},
      {0, {9600}, "9600"},
  };
  for (const auto& c : kCases) EXPECT_EQ(LineRateText(c.asked, c.line_rates), c.text);
  EXPECT_EQ(FormatSettingsSummary(LineRateText(115200, {115200, 115384}), 8, 0, 1024),
            "115200-115384    8N       1024");
}

}  // namespace
}  // namespace quarnex
