#include "testapp/report/row_text.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "testapp/report/text_format.h"

namespace quarnex {
namespace {

// Added to the throughput before the one-decimal formatting, so 85.33 shows
// as 85.4: the figure the tester has always shown.
constexpr double kThroughputOffset = 0.05;
constexpr double kPercent = 100.0;

// Status-bar parity letters for Parity 0..4 (none, odd, even, mark, space).
constexpr char kParityLetters[] = {'N', 'O', 'E', 'M', 'S'};
constexpr int kParityLetterCount = static_cast<int>(sizeof(kParityLetters));

}  // namespace

std::string PortLabel(int port_number) { return FormatC("Quarnex%2.2d", port_number); }

std::string TimeCellText(double average_ms, double last_ms, double max_ms, double expected_ms,
                         double factor) {
  std::string text = FormatC("%.1f,  %.1f,  %.1f  (", average_ms, last_ms, max_ms);
  const double throughput = ThroughputPercent(expected_ms, average_ms, factor);
  if (std::isnan(throughput)) {
    text += kNotAvailable;
  } else {
    text += ThroughputPercentText(throughput);
  }
  text += ')';
  return text;
}

std::string ThroughputPercentText(double throughput_pct) {
  return FormatC("%.1f%%", throughput_pct + kThroughputOffset);
}

double ThroughputPercent(double expected_ms, double average_ms, double factor) {
  const double throughput = (expected_ms / average_ms) * factor * kPercent;
  // Without a bit rate there is no ideal packet time, and without a usable
  // average there is nothing to compare it with: "N.A." rather than inf/nan.
  if (expected_ms == 0.0 || !std::isfinite(throughput)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return throughput;
}

double PacketsPerJudgedPacket(bool file_mode, uint32_t file_size, int32_t packet_size) {
  if (!file_mode) return 1.0;
  if (packet_size <= 0) return 0.0;
  return static_cast<double>(file_size) / static_cast<double>(packet_size);
}

std::string StatusCellText(bool packet_ok, bool write_full, bool read_full,
                           bool read_length_mismatch, bool receive_only,
                           uint32_t last_read_length) {
  if (packet_ok) return "Success";
  // Receive only never writes, so its write result says nothing.
  if (!write_full && !receive_only) return "Write failed";
  if (read_length_mismatch) {
    return FormatC("Length mismatch (%d)", static_cast<int>(last_read_length));
  }
  // A complete read that was still judged bad carried wrong bytes.
  if (read_full) return "Data mismatch";
  return "Read failed";
}

std::string PacketStatusText(PacketStatus status, uint32_t length) {
  switch (status) {
    case PacketStatus::kNone:
      break;
    case PacketStatus::kSuccess:
      return StatusCellText(true, true, true, false, false, length);
    case PacketStatus::kWriteFailed:
      return StatusCellText(false, false, false, false, false, length);
    case PacketStatus::kReadFailed:
      return StatusCellText(false, true, false, false, false, length);
    case PacketStatus::kLengthMismatch:
      return StatusCellText(false, true, false, true, false, length);
    case PacketStatus::kDataMismatch:
      return StatusCellText(false, true, true, false, false, length);
    case PacketStatus::kReadTimeout:
      return kStatusReadTimeout;
    case PacketStatus::kWriteTimeout:
      return kStatusWriteTimeout;
  }
  return "";
}

std::string RowStatusText(const PortCounters& counters) {
  if (counters.NotOpened) return kStatusNotOpened;
  if (counters.Lost) return kStatusPortLost;
  return PacketStatusText(counters.LastStatus, counters.LastStatusLength);
}

std::string RowTimeText(const PortCounters& counters, double last_ms, double max_ms,
                        double expected_ms, double factor) {
  if (counters.LastStatus != PacketStatus::kSuccess) return kNotAvailable;
  const double average = counters.TotalPacketTime / static_cast<double>(counters.GoodPacketCount);
  return TimeCellText(average, last_ms, max_ms, expected_ms, factor);
}

std::string FormatSettingsSummary(int32_t bit_rate, int byte_size, int parity,
                                  int32_t packet_size) {
  return FormatSettingsSummary(FormatC("%d", static_cast<int>(bit_rate)), byte_size, parity,
                               packet_size);
}

std::string FormatSettingsSummary(std::string_view rate, int byte_size, int parity,
                                  int32_t packet_size) {
  std::string text(rate);
  AppendFormatC(&text, "    %d", byte_size);
  if (parity >= 0 && parity < kParityLetterCount) text += kParityLetters[parity];
  text += "   ";
  AppendFormatC(&text, "    %d", static_cast<int>(packet_size));
  return text;
}

std::string LineRateText(int32_t asked, const std::vector<uint32_t>& line_rates) {
  if (line_rates.empty()) return FormatC("%d", static_cast<int>(asked));
  const auto [low, high] = std::minmax_element(line_rates.begin(), line_rates.end());
  if (*low == *high) return FormatC("%u", *low);
  return FormatC("%u-%u", *low, *high);
}

}  // namespace quarnex
