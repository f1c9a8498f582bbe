// The texts of the results table's cells and of the status bar.
//
// Pure functions, formatted locale-independently ("85.4", never "85,4"),
// safe from any thread.
#ifndef QUARNEX_REPORT_ROW_TEXT_H_
#define QUARNEX_REPORT_ROW_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/report/port_counters.h"

namespace quarnex {

// Status-bar part 0 texts.
inline constexpr const char kStatusReady[] = "Ready";
inline constexpr const char kStatusReadyToReceive[] = "Ready to receive";
inline constexpr const char kStatusRunning[] = "Running";
inline constexpr const char kStatusPaused[] = "Paused";
inline constexpr const char kStatusStopped[] = "Stopped";

// Column 0: "Quarnex%2.2d".
std::string PortLabel(int port_number);

// Column 3 for a good last packet: "%.1f,  %.1f,  %.1f  (%.1f%%)" with the
// average, last and maximum times and the throughput
// (expected / average) x factor x 100 + 0.05. When the expected time is 0
// (no bit rate) or the throughput has no finite value (no usable average)
// the percentage reads "N.A."; the three times stay.
std::string TimeCellText(double average_ms, double last_ms, double max_ms, double expected_ms,
                         double factor);

// The throughput behind that cell, unrounded: (expected / average) x factor
// x 100, in percent of the line rate. NaN when there is no figure: the
// expected time is 0 (no bit rate) or the quotient is not finite (no usable
// average).
double ThroughputPercent(double expected_ms, double average_ms, double factor);
// A figure of ThroughputPercent as the time cell shows it: "%.1f%%" of the
// figure + 0.05, so 85.33 reads "85.4%".
std::string ThroughputPercentText(double throughput_pct);

// The throughput factor: packets of PacketSize bytes per judged packet. In
// file mode one judged packet carries the whole file, FileSize / PacketSize
// packets as an exact ratio (a last partial packet counts by its share);
// otherwise 1. 0 when the packet size is not positive.
double PacketsPerJudgedPacket(bool file_mode, uint32_t file_size, int32_t packet_size);
// Column 3 when the last refreshed packet failed.
inline constexpr const char kNotAvailable[] = "N.A.";

// Column 4: "Success" for a good packet, else the failure by cause. The
// caller classifies the last results: write_full (done deferred or at once),
// read_full (likewise), read_length_mismatch (a short deferred read).
std::string StatusCellText(bool packet_ok, bool write_full, bool read_full,
                           bool read_length_mismatch, bool receive_only, uint32_t last_read_length);
// Column 4 beside those: a port whose device is gone, and a bad packet whose
// read or write the blocked-transfer timeout ended (counted as a failed
// read or write).
inline constexpr const char kStatusPortLost[] = "Port lost";
inline constexpr const char kStatusReadTimeout[] = "Read timeout";
inline constexpr const char kStatusWriteTimeout[] = "Write timeout";
// Column 4 of a port of the range that could not be opened at Start.
inline constexpr const char kStatusNotOpened[] = "Not opened";

// Column 4 for a packet that came to `status` (a length mismatch with the
// `length` its read brought): the texts StatusCellText and the two timeout
// texts give; "" for kNone.
std::string PacketStatusText(PacketStatus status, uint32_t length);
// Column 4 of a port as `counters` hold it: "Not opened", "Port lost", or
// the status of the last packet they count.
std::string RowStatusText(const PortCounters& counters);
// Column 3 of a port as `counters` hold it: "N.A." unless the last packet
// they count was good, else TimeCellText with their average good packet
// time and the last and maximum times given.
std::string RowTimeText(const PortCounters& counters, double last_ms, double max_ms,
                        double expected_ms, double factor);

// Status-bar part 1: "%d    %d" bit rate and byte size, the parity letter,
// three blanks, then "    %d" with the packet size.
std::string FormatSettingsSummary(int32_t bit_rate, int byte_size, int parity, int32_t packet_size);
// The same with the rate as a text (see LineRateText).
std::string FormatSettingsSummary(std::string_view rate, int byte_size, int parity,
                                  int32_t packet_size);

// The rate the status bar shows for a run: `asked` (the block's BitRate)
// when no port reported another, the one rate every port reported, or
// "low-high" when the ports' lines run at different rates. `line_rates`
// holds one rate per port in use.
std::string LineRateText(int32_t asked, const std::vector<uint32_t>& line_rates);

}  // namespace quarnex

#endif  // QUARNEX_REPORT_ROW_TEXT_H_
