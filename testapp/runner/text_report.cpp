#include "testapp/runner/text_report.h"

#include <algorithm>
#include <cinttypes>
#include <optional>

#include "testapp/report/port_details.h"
#include "testapp/report/row_text.h"
#include "testapp/report/text_format.h"
#include "testapp/station/json_report.h"

namespace quarnex {

namespace {

// "Write failed" as the causes line prints it: "write failed".
std::string LowerCase(const char* text) {
  std::string lower(text);
  for (char& ch : lower) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return lower;
}

constexpr int kPortWidth = 11;
constexpr int kPacketsWidth = 10;
constexpr int kErrorsWidth = 9;
constexpr int kTimeWidth = 36;
constexpr int kStatusWidth = 24;

constexpr char kTimeHeader[] = "Time(ms) -- Avg Last Max (T.P.)";
constexpr char kNone[] = "-";

// A line cut to `max_columns` characters, with its line feed.
void AppendCut(std::string* out, const std::string& line, int max_columns) {
  const size_t width = max_columns > 0 ? static_cast<size_t>(max_columns) : line.size();
  out->append(line, 0, std::min(line.size(), width));
  out->push_back('\n');
}

std::string TableLine(std::string_view port, std::string_view packets, std::string_view errors,
                      std::string_view time, std::string_view status, std::string_view comm) {
  std::string line = FormatC(
      "%-*.*s%*.*s%*.*s  %-*.*s %-*.*s %.*s", kPortWidth, static_cast<int>(port.size()),
      port.data(), kPacketsWidth, static_cast<int>(packets.size()), packets.data(), kErrorsWidth,
      static_cast<int>(errors.size()), errors.data(), kTimeWidth, static_cast<int>(time.size()),
      time.data(), kStatusWidth, static_cast<int>(status.size()), status.data(),
      static_cast<int>(comm.size()), comm.data());
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string OptionalMs(std::optional<double> value) {
  return value ? FormatC("%.3f", *value) : std::string(kNone);
}

std::string OptionalPct(std::optional<double> value) {
  return value ? FormatC("%.2f%%", *value) : std::string(kNone);
}

std::string EndText(const RunOutcome& outcome) {
  switch (outcome.end_reason) {
    case EndReason::kNotStarted:
      return "The run could not start.";
    case EndReason::kDuration:
      return FormatC("Run ended after %.1f s: the duration was reached.",
                     outcome.figures.ElapsedSeconds);
    case EndReason::kPackets:
      return FormatC("Run ended after %.1f s: every port reached %d packets.",
                     outcome.figures.ElapsedSeconds, outcome.run.packets_per_port.value_or(0));
    case EndReason::kPortsDone:
      return FormatC("Run ended after %.1f s: every port finished on its own.",
                     outcome.figures.ElapsedSeconds);
    case EndReason::kSignal:
      return FormatC("Run ended after %.1f s: stopped by a signal.",
                     outcome.figures.ElapsedSeconds);
    case EndReason::kFirstError:
      return FormatC("Run ended after %.1f s: stopped at the first bad packet.",
                     outcome.figures.ElapsedSeconds);
    case EndReason::kStopped:
      return FormatC("Run ended after %.1f s: stopped.", outcome.figures.ElapsedSeconds);
    case EndReason::kRunning:
      return FormatC("Run going for %.1f s.", outcome.figures.ElapsedSeconds);
  }
  return std::string();
}

std::string LimitsText(const Limits& limits) {
  std::string text = FormatC("at most %d errors", limits.max_errors);
  if (limits.min_throughput_pct) {
    AppendFormatC(&text, ", at least %g%% throughput", *limits.min_throughput_pct);
  }
  return text;
}

// "; of these timed out: read N, write N" when the timeout ended any
// transfer of the port.
std::string TimeoutsText(const PortSnapshot& port) {
  if (port.Counters.ReadTimeoutCount == 0 && port.Counters.WriteTimeoutCount == 0) return "";
  return FormatC("; of these timed out: read %" PRId64 ", write %" PRId64,
                 port.Counters.ReadTimeoutCount, port.Counters.WriteTimeoutCount);
}

// "Quarnex01 first mismatch: packet 12, byte 300" and the bytes around it,
// each on its own line; "" before any.
std::string MismatchLines(const PortSnapshot& port) {
  const FirstMismatch& m = port.Counters.Mismatch;
  if (m.Kind == MismatchKind::kNone) return "";
  std::string text =
      PortLabel(port.Counters.PortNumber) + " first mismatch: " + FirstMismatchText(m) + "\n";
  const std::string excerpt = MismatchExcerptText(m);
  size_t start = 0;
  while (start < excerpt.size()) {
    const size_t end = std::min(excerpt.find('\n', start), excerpt.size());
    text += "  " + excerpt.substr(start, end - start) + "\n";
    start = end + 1;
  }
  return text;
}

// "Quarnex01 line errors: break 0, framing 2, ..." when the line reported
// any since Start; "" otherwise.
std::string LineErrorLine(const PortSnapshot& port) {
  const auto& counts = port.Counters.LineErrorCount;
  if (std::all_of(counts.begin(), counts.end(), [](int64_t n) { return n == 0; })) return "";
  return PortLabel(port.Counters.PortNumber) +
         " line errors: " + LineErrorCountsText(port.Counters) + "\n";
}

}  // namespace

std::string LiveTable(const RunSnapshot& now, std::string_view headline, int max_rows,
                      int max_columns) {
  std::string out;
  AppendCut(&out, std::string(headline), max_columns);
  AppendCut(&out, TableLine("Port", "Packets", "Errors", kTimeHeader, "Status", "Last Comm Error"),
            max_columns);
  long long packets = 0;
  long long errors = 0;
  int shown = 0;
  int hidden = 0;
  for (const PortSnapshot& port : now.Ports) {
    if (!port.Opened) continue;
    packets += port.Counters.PacketCount;
    errors += port.Counters.ErrorCount;
    if (shown >= max_rows) {
      ++hidden;
      continue;
    }
    ++shown;
    AppendCut(&out,
              TableLine(PortLabel(port.Counters.PortNumber),
                        FormatC("%" PRId64, port.Counters.PacketCount),
                        FormatC("%" PRId64, port.Counters.ErrorCount), PortTimeText(now, port),
                        port.Counters.Open ? PortStatusText(port) : "closed", port.LastCommError),
              max_columns);
  }
  if (hidden > 0)
    AppendCut(&out, FormatC("... %d more ports, counted in the total", hidden), max_columns);
  AppendCut(&out, TableLine("Total", FormatC("%lld", packets), FormatC("%lld", errors), "", "", ""),
            max_columns);
  return out;
}

std::string IntervalLines(const RunSnapshot& now, const RunSnapshot& before) {
  const double seconds = now.ElapsedSeconds - before.ElapsedSeconds;
  std::string out;
  long long interval_packets = 0;
  long long interval_errors = 0;
  long long packets = 0;
  long long errors = 0;
  for (size_t i = 0; i < now.Ports.size(); ++i) {
    const PortSnapshot& port = now.Ports[i];
    if (!port.Opened) continue;
    const PortSnapshot& earlier = i < before.Ports.size() ? before.Ports[i] : port;
    const PortInterval delta = IntervalOf(port.Counters, earlier.Counters, seconds);
    interval_packets += delta.Packets;
    interval_errors += delta.Errors;
    packets += port.Counters.PacketCount;
    errors += port.Counters.ErrorCount;
    const std::optional<double> average = AveragePacketMs(port.Counters);
    AppendFormatC(
        &out,
        "[%7.1f s] %s interval: packets=%" PRId64 " good=%" PRId64 " errors=%" PRId64
        " rate=%.1f/s avg_ms=%s | total: packets=%" PRId64 " good=%" PRId64 " errors=%" PRId64
        " avg_ms=%s last_ms=%s max_ms=%s "
        "throughput=%s open=%s",
        now.ElapsedSeconds, PortLabel(port.Counters.PortNumber).c_str(), delta.Packets,
        delta.GoodPackets, delta.Errors, delta.PacketsPerSecond,
        OptionalMs(delta.AverageMs).c_str(), port.Counters.PacketCount,
        port.Counters.GoodPacketCount, port.Counters.ErrorCount, OptionalMs(average).c_str(),
        OptionalMs(average ? std::optional(port.LastPacketTime) : std::nullopt).c_str(),
        OptionalMs(average ? std::optional(port.MaxPacketTime) : std::nullopt).c_str(),
        OptionalPct(ThroughputPct(average, now.ExpectedPacketTime, now.PacketsPerJudged)).c_str(),
        port.Counters.Open ? "yes" : "no");
    out += " status=" + JsonQuote(PortStatusText(port)) +
           " last_comm_error=" + JsonQuote(port.LastCommError);
    out.push_back('\n');
  }
  AppendFormatC(
      &out,
      "[%7.1f s] Total interval: packets=%lld errors=%lld rate=%.1f/s | total: packets=%lld "
      "errors=%lld\n",
      now.ElapsedSeconds, interval_packets, interval_errors,
      seconds > 0 ? interval_packets / seconds : 0.0, packets, errors);
  return out;
}

std::string TextSummary(const RunOutcome& outcome) {
  const RunSnapshot& run = outcome.figures;
  std::string out = EndText(outcome) + "\n";
  AppendFormatC(&out, "%-*s%*s%*s%11s%11s%11s%12s  %s\n", kPortWidth, "Port", kPacketsWidth,
                "Packets", kErrorsWidth, "Errors", "Avg ms", "Last ms", "Max ms", "Throughput",
                "Result");
  int passed = 0;
  long long packets = 0;
  long long errors = 0;
  std::string causes;
  for (const PortSnapshot& port : run.Ports) {
    const PortVerdict verdict = JudgePort(port, run, outcome.run.limits);
    passed += verdict.pass ? 1 : 0;
    std::string result = verdict.pass ? "pass" : "FAIL:";
    for (const std::string& failure : verdict.failures) result += " " + failure + ";";
    if (!verdict.pass) result.pop_back();
    if (!port.Opened) {
      AppendFormatC(&out, "%-*s%*s%*s%11s%11s%11s%12s  %s\n", kPortWidth,
                    PortLabel(port.Counters.PortNumber).c_str(), kPacketsWidth, kNone, kErrorsWidth,
                    kNone, kNone, kNone, kNone, kNone, result.c_str());
      continue;
    }
    const PortCounters& c = port.Counters;
    packets += c.PacketCount;
    errors += c.ErrorCount;
    const std::optional<double> average = AveragePacketMs(c);
    AppendFormatC(
        &out, "%-*s%*" PRId64 "%*" PRId64 "%11s%11s%11s%12s  %s\n", kPortWidth,
        PortLabel(port.Counters.PortNumber).c_str(), kPacketsWidth, c.PacketCount, kErrorsWidth,
        c.ErrorCount, OptionalMs(average).c_str(),
        OptionalMs(average ? std::optional(port.LastPacketTime) : std::nullopt).c_str(),
        OptionalMs(average ? std::optional(port.MaxPacketTime) : std::nullopt).c_str(),
        OptionalPct(ThroughputPct(average, run.ExpectedPacketTime, run.PacketsPerJudged)).c_str(),
        result.c_str());
    if (c.ErrorCount > 0) {
      // "Quarnex01 errors by cause: write failed 0, write aborted 0, ..."
      causes += PortLabel(port.Counters.PortNumber) + " errors by cause: ";
      for (size_t i = kFirstErrorCause; i < kPacketCounterCount; ++i) {
        const PacketCounterField& field = kPacketCounterFields[i];
        if (i > kFirstErrorCause) causes += ", ";
        AppendFormatC(&causes, "%s %" PRId64, LowerCase(field.name).c_str(), c.*field.member);
      }
      causes += TimeoutsText(port) + "\n";
    }
    causes += MismatchLines(port) + LineErrorLine(port);
  }
  AppendFormatC(&out, "%-*s%*lld%*lld\n", kPortWidth, "Total", kPacketsWidth, packets, kErrorsWidth,
                errors);
  out += causes;
  // The figures judge the line only for the time the tester watched it.
  if (run.HeldUpMaxMs > 0.0) {
    AppendFormatC(&out,
                  "The tester itself was held up for up to %.0f ms (stopped or starved); "
                  "the line's time was counted from each wake-up.\n",
                  run.HeldUpMaxMs);
  }
  if (outcome.exit_status == kExitNoPorts) {
    out += "Result: NOT STARTED\n";
  } else {
    AppendFormatC(&out, "Result: %s, %d of %zu ports inside the limits (%s)\n",
                  outcome.exit_status == kExitPass ? "PASS" : "FAIL", passed, run.Ports.size(),
                  LimitsText(outcome.run.limits).c_str());
  }
  return out;
}

}  // namespace quarnex
