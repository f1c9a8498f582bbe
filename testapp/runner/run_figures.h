// The figures of a run at one moment: every port's counters and packet
// times, read from the live port records, with the texts of its row.
//
// Reports, the summary, the pass/fail verdict and the log's stop record are
// all made from such snapshots, so the summary printed at the end and the
// stop record agree counter for counter.
//
// TakeRunFigures runs on the runner's main thread while workers count; each
// field is read atomically on its own (a port's figures may mix two
// consecutive packets, as in the window). The rest are pure functions.
#ifndef QUARNEX_RUNNER_RUN_FIGURES_H_
#define QUARNEX_RUNNER_RUN_FIGURES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/report/log_file.h"
#include "testapp/runner/cell_store.h"

namespace quarnex {

struct PortFigures {
  int slot = 0;
  bool opened = false;    // the port was opened at Start (it has a row)
  bool open = false;      // its device was still open at this moment
  PortCounters counters;  // PortNumber, the counts and the total good time
  double last_ms = 0.0;   // the last good packet's time
  double max_ms = 0.0;
  bool packet_ok = false;  // the last judged packet was good
  // Of the failed reads and writes, those the blocked-transfer timeout
  // ended (they also count in the read or write failures).
  int64_t read_timeouts = 0;
  int64_t write_timeouts = 0;
  bool lost = false;  // its device reported itself gone
  std::string label;  // "Quarnex%2.2d"
  // The Status text of `counters` (FiguresStatus): what its row shows.
  std::string status;
  std::string last_comm_error;
};

struct RunFigures {
  double elapsed_s = 0.0;  // since the run started
  // The ideal time of one packet on the line, ms; not finite or 0 when the
  // configuration has no bit rate.
  double expected_packet_ms = 0.0;
  // Packets per judged packet: in file mode one judged packet is the whole
  // file, FileSize / PacketSize packets (an exact ratio); otherwise 1.
  double packets_per_judged = 1.0;
  // The longest the tester itself was held up (a stopped process, a
  // starved machine), ms; 0 when it never was.
  double held_up_max_ms = 0.0;
  std::vector<PortFigures> ports;  // every slot of the range, in order
};

// Snapshots the slots 0 .. PortCount - 1 of the run of `context` with its
// settings; `rows` tells which slots got a row at Start and gives their
// texts. A slot whose port could not be opened has a row but is not
// `opened`; its counters say what was tried and why it failed.
RunFigures TakeRunFigures(const RunContext& context, const std::vector<CellStore::RowTexts>& rows,
                          double elapsed_s);
RunFigures TakeRunFigures(const RunContext& context, const CellStore& rows, double elapsed_s);

// A port's Status text as the snapshot `counters` has it ("Not opened",
// "Port lost", the status of the last packet counted); before its first
// verdict, `row_status`, the row's own text (a file's progress, or "").
std::string FiguresStatus(const PortCounters& counters, const std::string& row_status);

// The average time of the good packets, ms; empty without a good packet.
std::optional<double> AveragePacketMs(const PortCounters& counters);

// Throughput in percent of the line rate, as the window's time column
// computes it but unrounded: expected / average x packets_per_judged x 100.
// Empty when there is no bit rate or no good packet.
std::optional<double> ThroughputPct(std::optional<double> average_ms, double expected_packet_ms,
                                    double packets_per_judged);

// What one port did between two snapshots.
struct PortInterval {
  int64_t packets = 0;
  int64_t good_packets = 0;
  int64_t errors = 0;
  double packets_per_s = 0.0;        // 0 for an interval of no length
  std::optional<double> average_ms;  // of the interval's good packets
};

// The difference `now` - `before` of one port over `seconds`.
PortInterval IntervalOf(const PortFigures& now, const PortFigures& before, double seconds);

// The counters of the ports open in `figures`, in slot order: what the log's
// stop record lists.
std::vector<PortCounters> OpenPortCounters(const RunFigures& figures);

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_RUN_FIGURES_H_
