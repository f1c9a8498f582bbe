#include "testapp/station/history_report.h"

#include <cmath>
#include <optional>

#include "testapp/report/text_format.h"
#include "testapp/station/json_report.h"

namespace quarnex {

namespace {

// Digits after the point, as the runner's JSON lines have them.
constexpr int kMsDecimals = 3;
constexpr int kPctDecimals = 2;
constexpr int kSecondsDecimals = 3;

// Writes one JSON object member by member; raw values (a stored object or
// array) go in as they are.
class JsonObject {
 public:
  JsonObject() : text_("{") {}

  JsonObject& Raw(const char* key, const std::string& json) {
    Key(key);
    text_ += json;
    return *this;
  }
  JsonObject& Text(const char* key, const std::string& value) { return Raw(key, JsonQuote(value)); }
  JsonObject& Text(const char* key, const std::optional<std::string>& value) {
    return value ? Text(key, *value) : Raw(key, "null");
  }
  JsonObject& Int(const char* key, long long value) { return Raw(key, FormatC("%lld", value)); }
  template <typename T>
  JsonObject& Int(const char* key, const std::optional<T>& value) {
    return value ? Int(key, static_cast<long long>(*value)) : Raw(key, "null");
  }
  JsonObject& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
  JsonObject& Number(const char* key, const std::optional<double>& value, int decimals) {
    if (!value || !std::isfinite(*value)) return Raw(key, "null");
    return Raw(key, FormatC("%.*f", decimals, *value));
  }

  std::string Close() { return text_ + "}"; }

 private:
  void Key(const char* key) {
    if (text_.back() != '{') text_.push_back(',');
    text_ += JsonQuote(key);
    text_.push_back(':');
  }

  std::string text_;
};

std::string PortJson(const HistoryPort& p) {
  JsonObject counters;
  counters.Int("packets", p.packets)
      .Int("good_packets", p.good_packets)
      .Int("errors", p.errors)
      .Int("write_failed", p.write_failed)
      .Int("write_aborted", p.write_aborted)
      .Int("read_failed", p.read_failed)
      .Int("read_aborted", p.read_aborted)
      .Int("length_mismatch", p.length_mismatch)
      .Int("data_mismatch", p.data_mismatch)
      .Int("read_timeouts", p.read_timeouts)
      .Int("write_timeouts", p.write_timeouts);
  static constexpr const char* kLineErrorKeys[kLineErrorKindCount] = {
      "break", "framing", "overrun", "receive_overflow", "parity", "transmit_full"};
  JsonObject line_errors;
  for (int kind = 0; kind < kLineErrorKindCount; ++kind) {
    line_errors.Int(kLineErrorKeys[kind], p.line_errors[static_cast<size_t>(kind)]);
  }
  return JsonObject()
      .Int("port", p.port)
      .Text("label", p.label)
      .Bool("opened", p.opened)
      .Bool("open", p.open)
      .Bool("lost", p.lost)
      .Raw("counters", counters.Close())
      .Raw("line_errors", line_errors.Close())
      .Raw("first_mismatch", p.first_mismatch.value_or("null"))
      .Number("total_packet_time_ms", p.total_packet_time_ms, kMsDecimals)
      .Number("avg_ms", p.avg_ms, kMsDecimals)
      .Number("last_ms", p.last_ms, kMsDecimals)
      .Number("max_ms", p.max_ms, kMsDecimals)
      .Number("throughput_pct", p.throughput_pct, kPctDecimals)
      .Text("status", p.status)
      .Text("last_comm_error", p.last_comm_error)
      .Bool("pass", p.pass)
      .Raw("failures", p.failures)
      .Close();
}

std::string ResultText(const HistoryRun& run) {
  return run.finished ? run.result.value_or("?") : "unfinished";
}

std::string PortsText(const HistoryRun& run) {
  if (run.port_count <= 1) return FormatC("%d", run.port_index);
  return FormatC("%d-%lld", run.port_index,
                 static_cast<long long>(int64_t{run.port_index} + run.port_count - 1));
}

}  // namespace

std::string HistoryTable(const std::vector<HistoryRun>& runs) {
  if (runs.empty()) return "No runs recorded.\n";
  std::string text = FormatC("%5s  %-20s  %-20s  %9s  %-12s  %-8s  %-7s  %-11s  %-7s  %s\n", "ID",
                             "STARTED (UTC)", "STOPPED (UTC)", "RUN TIME", "LABEL", "MODE", "PORTS",
                             "RESULT", "PASSED", "FAILED PORTS");
  for (const HistoryRun& run : runs) {
    std::string failed;
    for (const HistoryPort& port : run.ports) {
      if (port.pass) continue;
      if (!failed.empty()) failed += ",";
      failed += FormatC("%d", port.port);
    }
    const std::string elapsed = run.elapsed_s ? FormatC("%.1f s", *run.elapsed_s) : "-";
    const std::string passed =
        run.ports_passed && run.ports_failed
            ? FormatC("%d/%d", *run.ports_passed, *run.ports_passed + *run.ports_failed)
            : "-";
    AppendFormatC(&text, "%5lld  %-20s  %-20s  %9s  %-12s  %-8s  %-7s  %-11s  %-7s  %s\n",
                  static_cast<long long>(run.id), run.started_at.c_str(),
                  run.stopped_at.value_or("-").c_str(), elapsed.c_str(), run.label.c_str(),
                  run.mode.c_str(), PortsText(run).c_str(), ResultText(run).c_str(), passed.c_str(),
                  failed.c_str());
  }
  return text;
}

std::string HistoryJsonLines(const std::vector<HistoryRun>& runs) {
  std::string text;
  for (const HistoryRun& run : runs) {
    std::string ports = "[";
    for (const HistoryPort& port : run.ports) {
      if (ports.size() > 1) ports.push_back(',');
      ports += PortJson(port);
    }
    ports.push_back(']');
    text += JsonObject()
                .Text("type", std::string("run"))
                .Int("schema", kJsonSchemaVersion)
                .Int("id", run.id)
                .Text("label", run.label)
                .Text("started_at", run.started_at)
                .Text("stopped_at", run.stopped_at)
                .Bool("finished", run.finished)
                .Text("result", run.result)
                .Int("exit_status", run.exit_status)
                .Text("end_reason", run.end_reason)
                .Number("elapsed_s", run.elapsed_s, kSecondsDecimals)
                .Text("mode", run.mode)
                .Int("port_index", run.port_index)
                .Int("port_count", run.port_count)
                .Int("packet_size", run.packet_size)
                .Int("bit_rate", run.bit_rate)
                .Number("expected_packet_time_ms", run.expected_packet_time_ms, kMsDecimals)
                .Raw("settings", run.settings)
                .Int("ports_passed", run.ports_passed)
                .Int("ports_failed", run.ports_failed)
                .Raw("ports", ports)
                .Close();
    text.push_back('\n');
  }
  return text;
}

}  // namespace quarnex
