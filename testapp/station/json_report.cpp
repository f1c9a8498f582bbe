#include "testapp/station/json_report.h"

#include <cmath>
#include <optional>

#include "testapp/report/port_details.h"
#include "testapp/report/row_text.h"
#include "testapp/report/text_format.h"

namespace quarnex {

namespace {

// Digits after the point: times in ms to the microsecond, percentages to a
// hundredth, rates to a tenth.
constexpr int kMsDecimals = 3;
constexpr int kPctDecimals = 2;
constexpr int kRateDecimals = 1;
constexpr int kSecondsDecimals = 3;

void AppendKey(std::string* out, const char* key) {
  if (out->back() != '{') out->push_back(',');
  out->push_back('"');
  out->append(key);
  out->append("\":");
}

void AppendNumber(std::string* out, const char* key, double value, int decimals) {
  AppendKey(out, key);
  if (std::isfinite(value)) {
    AppendFormatC(out, "%.*f", decimals, value);
  } else {
    out->append("null");
  }
}

void AppendNumber(std::string* out, const char* key, std::optional<double> value, int decimals) {
  if (value) return AppendNumber(out, key, *value, decimals);
  AppendKey(out, key);
  out->append("null");
}

void AppendInt(std::string* out, const char* key, long long value) {
  AppendKey(out, key);
  AppendFormatC(out, "%lld", value);
}

void AppendBool(std::string* out, const char* key, bool value) {
  AppendKey(out, key);
  out->append(value ? "true" : "false");
}

void AppendText(std::string* out, const char* key, std::string_view value) {
  AppendKey(out, key);
  out->append(JsonQuote(value));
}

void AppendCounters(std::string* out, const PortSnapshot& port) {
  const PortCounters& c = port.Counters;
  AppendKey(out, "counters");
  out->push_back('{');
  for (const PacketCounterField& field : kPacketCounterFields) {
    AppendInt(out, field.json_key, c.*field.member);
  }
  AppendInt(out, "read_timeouts", port.Counters.ReadTimeoutCount);
  AppendInt(out, "write_timeouts", port.Counters.WriteTimeoutCount);
  out->push_back('}');
}

// Line errors since Start by kind, under the names of the kinds.
void AppendLineErrors(std::string* out, const PortCounters& c) {
  static constexpr const char* kKeys[kLineErrorKindCount] = {
      "break", "framing", "overrun", "receive_overflow", "parity", "transmit_full"};
  AppendKey(out, "line_errors");
  out->push_back('{');
  for (int kind = 0; kind < kLineErrorKindCount; ++kind) {
    AppendInt(out, kKeys[kind], c.LineErrorCount[static_cast<size_t>(kind)]);
  }
  out->push_back('}');
}

// The first mismatch since Start with the bytes around it in hex; null
// before any.
void AppendFirstMismatch(std::string* out, const FirstMismatch& m) {
  AppendKey(out, "first_mismatch");
  if (m.Kind == MismatchKind::kNone) {
    out->append("null");
    return;
  }
  out->push_back('{');
  AppendText(out, "kind", m.Kind == MismatchKind::kData ? "data" : "length");
  AppendInt(out, "packet", m.Packet);
  AppendInt(out, "offset", m.Offset);
  AppendInt(out, "excerpt_offset", m.Excerpt.Offset);
  AppendText(out, "expected", HexBytes(m.Excerpt.Expected.data(), m.Excerpt.ExpectedLength));
  AppendText(out, "received", HexBytes(m.Excerpt.Received.data(), m.Excerpt.ReceivedLength));
  out->push_back('}');
}

// The fields every port object has, without its closing brace.
void AppendPortFields(std::string* out, const PortSnapshot& port, const RunSnapshot& run) {
  out->push_back('{');
  AppendInt(out, "port", port.Counters.PortNumber);
  AppendText(out, "label", PortLabel(port.Counters.PortNumber));
  AppendBool(out, "opened", port.Opened);
  // What a port that could not be opened tried, and why it failed.
  AppendKey(out, "open_path");
  out->append(port.Counters.NotOpened ? JsonQuote(port.Counters.OpenPath) : "null");
  AppendKey(out, "open_reason");
  out->append(port.Counters.NotOpened ? JsonQuote(port.Counters.OpenReason) : "null");
  AppendBool(out, "open", port.Counters.Open);
  AppendBool(out, "lost", port.Counters.Lost);
  AppendBool(out, "stalled", port.Counters.Stalled);
  AppendNumber(
      out, "longest_stall_s",
      port.Counters.Stalled ? std::optional(port.Counters.StalledMs / 1000.0) : std::nullopt,
      kSecondsDecimals);
  AppendCounters(out, port);
  AppendLineErrors(out, port.Counters);
  AppendFirstMismatch(out, port.Counters.Mismatch);
  const std::optional<double> average = AveragePacketMs(port.Counters);
  const bool any_good = average.has_value();
  AppendNumber(out, "total_packet_time_ms", port.Counters.TotalPacketTime, kMsDecimals);
  AppendNumber(out, "avg_ms", average, kMsDecimals);
  AppendNumber(out, "last_ms", any_good ? std::optional(port.LastPacketTime) : std::nullopt,
               kMsDecimals);
  AppendNumber(out, "max_ms", any_good ? std::optional(port.MaxPacketTime) : std::nullopt,
               kMsDecimals);
  AppendNumber(out, "throughput_pct",
               ThroughputPct(average, run.ExpectedPacketTime, run.PacketsPerJudged), kPctDecimals);
  AppendText(out, "status", PortStatusText(port));
  AppendText(out, "last_comm_error", port.LastCommError);
}

struct Totals {
  int ports_opened = 0;
  int ports_open = 0;
  long long packets = 0;
  long long good_packets = 0;
  long long errors = 0;
};

Totals SumPorts(const RunSnapshot& run) {
  Totals t;
  for (const PortSnapshot& port : run.Ports) {
    t.ports_opened += port.Opened ? 1 : 0;
    t.ports_open += port.Counters.Open ? 1 : 0;
    t.packets += port.Counters.PacketCount;
    t.good_packets += port.Counters.GoodPacketCount;
    t.errors += port.Counters.ErrorCount;
  }
  return t;
}

void AppendTotalFields(std::string* out, const RunSnapshot& run) {
  const Totals t = SumPorts(run);
  AppendInt(out, "ports", static_cast<long long>(run.Ports.size()));
  AppendInt(out, "ports_opened", t.ports_opened);
  AppendInt(out, "ports_open", t.ports_open);
  AppendInt(out, "packets", t.packets);
  AppendInt(out, "good_packets", t.good_packets);
  AppendInt(out, "errors", t.errors);
}

void AppendHead(std::string* out, const char* type) {
  out->push_back('{');
  AppendText(out, "type", type);
  AppendInt(out, "schema", kJsonSchemaVersion);
}

void AppendSettings(std::string* out, const RunDescription& d) {
  AppendKey(out, "settings");
  out->push_back('{');
  AppendText(out, "mode", ModeName(d.mode));
  AppendInt(out, "port_index", d.port_index);
  AppendInt(out, "port_count", d.port_count);
  AppendInt(out, "packet_size", d.packet_size);
  AppendKey(out, "file");
  out->append(d.file ? JsonQuote(*d.file) : "null");
  AppendInt(out, "file_size", d.file_size);
  AppendInt(out, "pause_after", d.pause_after);
  AppendInt(out, "delay_ms", d.delay_ms);
  AppendInt(out, "update_interval_ms", d.update_interval_ms);
  AppendKey(out, "bit_rate");
  out->append(d.bit_rate ? FormatC("%d", *d.bit_rate) : "null");
  AppendKey(out, "parity_bit");
  out->append(!d.parity_bit ? "null" : *d.parity_bit ? "true" : "false");
  AppendInt(out, "byte_size", d.port.ByteSize);
  AppendInt(out, "baud_rate", d.port.BaudRate);
  AppendInt(out, "parity", d.port.Parity);
  AppendInt(out, "stop_bits", d.port.StopBits);
  AppendInt(out, "flow_control", d.port.FlowControl);
  AppendKey(out, "log");
  out->append(d.log_path ? JsonQuote(*d.log_path) : "null");
  AppendNumber(out, "duration_s", d.duration_s, kSecondsDecimals);
  AppendKey(out, "packets_per_port");
  out->append(d.packets_per_port ? FormatC("%d", *d.packets_per_port) : "null");
  AppendNumber(out, "interval_s", d.interval_s, kSecondsDecimals);
  AppendInt(out, "max_errors", d.limits.max_errors);
  AppendNumber(out, "min_throughput_pct", d.limits.min_throughput_pct, kPctDecimals);
  out->push_back('}');
}

}  // namespace

std::string JsonSettingsObject(const RunDescription& run) {
  // AppendKey needs an object to put the key in; the brace it opens is not
  // part of the result.
  std::string out = "{";
  AppendSettings(&out, run);
  return out.substr(std::string_view("{\"settings\":").size());
}

std::string JsonFirstMismatch(const FirstMismatch& mismatch) {
  std::string out = "{";
  AppendFirstMismatch(&out, mismatch);
  return out.substr(std::string_view("{\"first_mismatch\":").size());
}

std::string JsonStringArray(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out.push_back(',');
    out += JsonQuote(texts[i]);
  }
  out.push_back(']');
  return out;
}

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          AppendFormatC(&out, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string JsonIntervalLine(const RunSnapshot& now, const RunSnapshot& before, int seq) {
  const double seconds = now.ElapsedSeconds - before.ElapsedSeconds;
  std::string out;
  AppendHead(&out, "interval");
  AppendInt(&out, "seq", seq);
  AppendNumber(&out, "elapsed_s", now.ElapsedSeconds, kSecondsDecimals);
  AppendNumber(&out, "interval_s", seconds, kSecondsDecimals);
  AppendNumber(&out, "expected_packet_time_ms",
               std::isfinite(now.ExpectedPacketTime) && now.ExpectedPacketTime > 0
                   ? std::optional(now.ExpectedPacketTime)
                   : std::nullopt,
               kMsDecimals);
  AppendKey(&out, "ports");
  out.push_back('[');
  long long interval_packets = 0;
  long long interval_errors = 0;
  for (size_t i = 0; i < now.Ports.size(); ++i) {
    const PortSnapshot& port = now.Ports[i];
    const PortSnapshot& earlier = i < before.Ports.size() ? before.Ports[i] : port;
    const PortInterval delta = IntervalOf(port.Counters, earlier.Counters, seconds);
    interval_packets += delta.Packets;
    interval_errors += delta.Errors;
    if (i > 0) out.push_back(',');
    AppendPortFields(&out, port, now);
    AppendKey(&out, "interval");
    out.push_back('{');
    AppendInt(&out, "packets", delta.Packets);
    AppendInt(&out, "good_packets", delta.GoodPackets);
    AppendInt(&out, "errors", delta.Errors);
    AppendNumber(&out, "packets_per_s", delta.PacketsPerSecond, kRateDecimals);
    AppendNumber(&out, "avg_ms", delta.AverageMs, kMsDecimals);
    AppendNumber(&out, "throughput_pct",
                 ThroughputPct(delta.AverageMs, now.ExpectedPacketTime, now.PacketsPerJudged),
                 kPctDecimals);
    out += "}}";
  }
  out.push_back(']');
  AppendKey(&out, "totals");
  out.push_back('{');
  AppendTotalFields(&out, now);
  AppendInt(&out, "interval_packets", interval_packets);
  AppendInt(&out, "interval_errors", interval_errors);
  AppendNumber(&out, "interval_packets_per_s", seconds > 0 ? interval_packets / seconds : 0.0,
               kRateDecimals);
  out += "}}\n";
  return out;
}

std::string JsonSummaryLine(const RunOutcome& outcome) {
  const RunSnapshot& run = outcome.figures;
  std::string out;
  AppendHead(&out, "summary");
  const char* result = outcome.exit_status == kExitPass   ? "pass"
                       : outcome.exit_status == kExitFail ? "fail"
                                                          : "not_started";
  AppendText(&out, "result", result);
  AppendInt(&out, "exit_status", outcome.exit_status);
  AppendText(&out, "end_reason", EndReasonName(outcome.end_reason));
  AppendText(&out, "started_at", outcome.run.started_at);
  AppendNumber(&out, "elapsed_s", run.ElapsedSeconds, kSecondsDecimals);
  AppendNumber(&out, "expected_packet_time_ms",
               std::isfinite(run.ExpectedPacketTime) && run.ExpectedPacketTime > 0
                   ? std::optional(run.ExpectedPacketTime)
                   : std::nullopt,
               kMsDecimals);
  AppendNumber(&out, "held_up_max_ms", run.HeldUpMaxMs, kMsDecimals);
  AppendSettings(&out, outcome.run);
  AppendKey(&out, "log_error");
  out.append(outcome.log_error ? JsonQuote(*outcome.log_error) : "null");
  AppendKey(&out, "history_error");
  out.append(outcome.history_error ? JsonQuote(*outcome.history_error) : "null");
  AppendKey(&out, "messages");
  out.push_back('[');
  for (size_t i = 0; i < outcome.messages.size(); ++i) {
    if (i > 0) out.push_back(',');
    out += JsonQuote(outcome.messages[i]);
  }
  out.push_back(']');
  AppendKey(&out, "ports");
  out.push_back('[');
  int passed = 0;
  for (size_t i = 0; i < run.Ports.size(); ++i) {
    const PortSnapshot& port = run.Ports[i];
    const PortVerdict verdict = JudgePort(port, run, outcome.run.limits);
    passed += verdict.pass ? 1 : 0;
    if (i > 0) out.push_back(',');
    AppendPortFields(&out, port, run);
    AppendBool(&out, "pass", verdict.pass);
    AppendKey(&out, "failures");
    out.push_back('[');
    for (size_t f = 0; f < verdict.failures.size(); ++f) {
      if (f > 0) out.push_back(',');
      out += JsonQuote(verdict.failures[f]);
    }
    out += "]}";
  }
  out.push_back(']');
  AppendKey(&out, "totals");
  out.push_back('{');
  AppendTotalFields(&out, run);
  AppendInt(&out, "ports_passed", passed);
  AppendInt(&out, "ports_failed", static_cast<long long>(run.Ports.size()) - passed);
  out += "}}\n";
  return out;
}

}  // namespace quarnex
