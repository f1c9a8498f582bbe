// RunSnapshot: one typed view of a run at one moment, the one record that
// every output of a run is made from: the rows' Time and Status texts, the
// total row, the log's stop record, the saved CSV and JSON, the metrics, the
// run history and the runner's reports. Texts are views of it made at the
// edge; nothing reads a number back out of a text.
//
// The engine fills it from the live port records (TakeRunSnapshot,
// engine/port_snapshot.h); this layer holds the plain records and the
// figures derived from them, each computed here and nowhere else. Plain
// values and pure functions: copy them to any thread.
#ifndef QUARNEX_REPORT_RUN_SNAPSHOT_H_
#define QUARNEX_REPORT_RUN_SNAPSHOT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testapp/report/port_counters.h"

namespace quarnex {

struct PortSnapshot {
  int32_t Slot = 0;  // its place in the run's range: PortIndex + Slot is its number
  // Its row in the results table; -1 when the slot got no row at Start.
  int32_t Row = -1;
  // It was opened at Start (it has a row, and it is not NotOpened).
  bool Opened = false;
  // Counters.PortNumber, the counts, the status of the last packet as a
  // value, line errors by kind, the first mismatch, the timeouts, whether
  // it is open, ended, lost or stalled, and what was tried when it could
  // not be opened.
  PortCounters Counters;
  double LastPacketTime = 0.0;  // ms, of the last good packet
  double MaxPacketTime = 0.0;   // ms, the longest good packet
  // The texts only the engine's cell writes know (AttachRowNotes): what the
  // Status cell said before the first verdict (a file's progress, or ""),
  // and the last line-error or exerciser text of the row.
  std::string ProgressText;
  std::string LastCommError;
};

struct RunSnapshot {
  double ElapsedSeconds = 0.0;  // since the run started, as its taker measured it
  // The ideal time of one packet on the line, ms; not finite or 0 when the
  // configuration has no bit rate.
  double ExpectedPacketTime = 0.0;
  // Packets per judged packet (PacketsPerJudgedPacket): in file mode one
  // judged packet is the whole file; otherwise 1.
  double PacketsPerJudged = 1.0;
  // The longest the tester itself was held up in the run (a wait woke this
  // late past its deadline), ms; 0 when it never was.
  double HeldUpMaxMs = 0.0;
  // Every slot of the run's range, in slot order; those without a row
  // (Row -1) hold only their slot and port number.
  std::vector<PortSnapshot> Ports;
};

// The texts of one results-table row that only the engine's cell writes
// know, for AttachRowNotes.
struct RowNotes {
  std::string StatusText;     // the Status cell as it reads
  std::string LastCommError;  // the last line-error or exerciser text
};

// Copies into each port of `snapshot` with a row the notes of that row:
// `rows` holds one entry per table row, in row order. Ports whose row is
// past the end keep empty texts.
void AttachRowNotes(const std::vector<RowNotes>& rows, RunSnapshot* snapshot);

// The average time of the good packets, ms; empty without a good packet.
std::optional<double> AveragePacketMs(const PortCounters& counters);

// Throughput in percent of the line rate, as the Time cell computes it but
// unrounded: expected / average x packets_per_judged x 100. Empty when
// there is no bit rate or no usable average.
std::optional<double> ThroughputPct(std::optional<double> average_ms, double expected_packet_ms,
                                    double packets_per_judged);
// The same for `port`'s good packets in the run of `run`.
std::optional<double> PortThroughputPct(const RunSnapshot& run, const PortCounters& port);

// True when the last packet `counters` count was good.
bool LastPacketOk(const PortCounters& counters);

// Column 3 of `port`'s row: "N.A." unless its last packet was good, else
// its average, last and maximum times with the throughput.
std::string PortTimeText(const RunSnapshot& run, const PortSnapshot& port);
// Column 4 of `port`'s row: "Not opened", "Port lost" or the status of the
// last packet counted; before the first verdict, its ProgressText.
std::string PortStatusText(const PortSnapshot& port);

// The counters of the ports of `snapshot` that were opened and are still
// open: what the log's stop record lists, in slot order.
std::vector<PortCounters> StopRecordPorts(const RunSnapshot& snapshot);

// What one port did between two snapshots.
struct PortInterval {
  int64_t Packets = 0;
  int64_t GoodPackets = 0;
  int64_t Errors = 0;
  double PacketsPerSecond = 0.0;    // 0 for an interval of no length
  std::optional<double> AverageMs;  // of the interval's good packets
};

// The difference `now` - `before` of one port over `seconds`.
PortInterval IntervalOf(const PortCounters& now, const PortCounters& before, double seconds);

}  // namespace quarnex

#endif  // QUARNEX_REPORT_RUN_SNAPSHOT_H_
