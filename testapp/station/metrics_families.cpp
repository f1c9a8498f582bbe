#include "testapp/station/metrics_families.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "testapp/report/run_verdict.h"

namespace quarnex {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr double kMsPerSecond = 1000.0;

// Bucket bounds as multiples of the ideal time of a judged packet: a wide
// one below, the band a sound line lies in, and three wide ones above for
// the stalls.
constexpr std::array<double, 13> kBoundFactors = {0.5, 0.99, 1.0, 1.01, 1.02, 1.05, 1.1,
                                                  1.2, 1.5,  2.0, 5.0,  10.0, 100.0};
// Without a line rate: 100 us to 10 s, 1-2-5 steps.
constexpr std::array<double, 16> kUnpacedBoundsS = {1e-4, 2e-4, 5e-4, 1e-3, 2e-3, 5e-3, 1e-2, 2e-2,
                                                    5e-2, 0.1,  0.2,  0.5,  1.0,  2.0,  5.0,  10.0};

// The line-error kinds in LineErrorKind order, named as in the JSON.
constexpr const char* kLineErrorNames[kLineErrorKindCount] = {
    "break", "framing", "overrun", "receive_overflow", "parity", "transmit_full"};

// A port's state: the window's row colour, or not_opened.
constexpr const char* kStates[] = {"not_opened", "passing", "failed", "no_packet_judged",
                                   "lost",       "stalled", "closed"};

const char* StateName(const PortSnapshot& port) {
  if (!port.Opened) return "not_opened";
  switch (VerdictSinceStart(port.Counters)) {
    case PortRunVerdict::kPassing:
      return "passing";
    case PortRunVerdict::kFailed:
      return "failed";
    case PortRunVerdict::kNoPacketJudged:
      return "no_packet_judged";
    case PortRunVerdict::kLost:
      return "lost";
    case PortRunVerdict::kStalled:
      return "stalled";
    case PortRunVerdict::kClosed:
      return "closed";
  }
  return "closed";
}

// Builds the families in a fixed order; each family is created by its
// first series.
class Families {
 public:
  explicit Families(const StationView& view)
      : run_labels_{{"station", view.station}, {"mode", view.mode}} {}

  void Gauge(const char* name, const char* help, double value) {
    ClientMetric metric;
    metric.label = run_labels_;
    metric.gauge.value = value;
    Add(name, help, MetricType::Gauge, std::move(metric));
  }

  // A series of one port, with `extra` labels after the port's.
  ClientMetric PortMetric(const PortSnapshot& port,
                          std::vector<ClientMetric::Label> extra = {}) const {
    ClientMetric metric;
    metric.label = {{"port", std::to_string(port.Counters.PortNumber)}};
    metric.label.insert(metric.label.end(), run_labels_.begin(), run_labels_.end());
    metric.label.insert(metric.label.end(), extra.begin(), extra.end());
    return metric;
  }

  void PortCounter(const char* name, const char* help, const PortSnapshot& port, int64_t value,
                   std::vector<ClientMetric::Label> extra = {}) {
    ClientMetric metric = PortMetric(port, std::move(extra));
    metric.counter.value = static_cast<double>(value);
    Add(name, help, MetricType::Counter, std::move(metric));
  }

  void PortGauge(const char* name, const char* help, const PortSnapshot& port, double value,
                 std::vector<ClientMetric::Label> extra = {}) {
    ClientMetric metric = PortMetric(port, std::move(extra));
    metric.gauge.value = value;
    Add(name, help, MetricType::Gauge, std::move(metric));
  }

  void Add(const char* name, const char* help, MetricType type, ClientMetric metric) {
    auto family = std::find_if(families_.begin(), families_.end(),
                               [name](const MetricFamily& f) { return f.name == name; });
    if (family == families_.end()) {
      families_.push_back(MetricFamily{name, help, type, {}});
      family = families_.end() - 1;
    }
    family->metric.push_back(std::move(metric));
  }

  std::vector<MetricFamily> Take() { return std::move(families_); }

 private:
  std::vector<ClientMetric::Label> run_labels_;
  std::vector<MetricFamily> families_;
};

void AddPortSeries(Families* f, const PortSnapshot& port, const RunSnapshot& run,
                   const PacketTimeHistogram* histogram) {
  const PortCounters& c = port.Counters;
  f->PortCounter("quarnex_packets_total", "Packets judged (every verdict attempt).", port,
                 c.PacketCount);
  f->PortCounter("quarnex_good_packets_total", "Packets judged good.", port, c.GoodPacketCount);
  f->PortCounter("quarnex_errors_total", "Packets judged bad.", port, c.ErrorCount);
  // The causes under the names of the JSON summary's counters.
  for (size_t i = kFirstErrorCause; i < kPacketCounterCount; ++i) {
    const PacketCounterField& cause = kPacketCounterFields[i];
    f->PortCounter("quarnex_error_causes_total",
                   "Causes of bad packets (a bad packet may have more than one).", port,
                   c.*cause.member, {{"cause", cause.json_key}});
  }
  static constexpr char kTimeoutsHelp[] =
      "Reads and writes ended by the blocked-transfer timeout (also counted as read_failed or "
      "write_failed causes).";
  f->PortCounter("quarnex_timeouts_total", kTimeoutsHelp, port, port.Counters.ReadTimeoutCount,
                 {{"direction", "read"}});
  f->PortCounter("quarnex_timeouts_total", kTimeoutsHelp, port, port.Counters.WriteTimeoutCount,
                 {{"direction", "write"}});
  for (int kind = 0; kind < kLineErrorKindCount; ++kind) {
    f->PortCounter("quarnex_line_errors_total", "Line errors the device reported, by kind.", port,
                   c.LineErrorCount[static_cast<size_t>(kind)], {{"kind", kLineErrorNames[kind]}});
  }

  const std::optional<double> average_ms = AveragePacketMs(c);
  const std::optional<double> pct =
      ThroughputPct(average_ms, run.ExpectedPacketTime, run.PacketsPerJudged);
  if (pct) {
    f->PortGauge("quarnex_throughput_ratio",
                 "Throughput as a share of the line rate: ideal packet time over the good "
                 "packets' average.",
                 port, *pct / 100.0);
  }
  if (average_ms) {
    f->PortGauge("quarnex_packet_time_last_seconds", "The last good packet's time.", port,
                 port.LastPacketTime / kMsPerSecond);
    f->PortGauge("quarnex_packet_time_average_seconds", "The good packets' average time.", port,
                 *average_ms / kMsPerSecond);
    f->PortGauge("quarnex_packet_time_max_seconds", "The longest good packet's time.", port,
                 port.MaxPacketTime / kMsPerSecond);
  }
  const std::string state = StateName(port);
  for (const char* name : kStates) {
    f->PortGauge("quarnex_port_state",
                 "The port's state since the start: 1 for the state it is in, 0 for the others.",
                 port, state == name ? 1.0 : 0.0, {{"state", name}});
  }
  if (histogram != nullptr) {
    ClientMetric metric = f->PortMetric(port);
    metric.histogram.sample_count = histogram->count;
    metric.histogram.sample_sum = histogram->sum_ms / kMsPerSecond;
    uint64_t cumulative = 0;
    for (size_t i = 0; i < histogram->bounds_s.size(); ++i) {
      cumulative += histogram->counts[i];
      metric.histogram.bucket.push_back({cumulative, histogram->bounds_s[i]});
    }
    metric.histogram.bucket.push_back({histogram->count, std::numeric_limits<double>::infinity()});
    f->Add("quarnex_packet_time_seconds", "Good packets by their time.", MetricType::Histogram,
           std::move(metric));
  }
}

}  // namespace

std::vector<double> PacketTimeBounds(double expected_packet_ms, double packets_per_judged) {
  std::vector<double> bounds;
  const double ideal_s = expected_packet_ms * packets_per_judged / kMsPerSecond;
  if (!std::isfinite(ideal_s) || !(ideal_s > 0.0)) {
    return std::vector<double>(kUnpacedBoundsS.begin(), kUnpacedBoundsS.end());
  }
  for (double factor : kBoundFactors) bounds.push_back(ideal_s * factor);
  return bounds;
}

PacketTimeHistogram MakePacketTimeHistogram(double expected_packet_ms, double packets_per_judged) {
  PacketTimeHistogram histogram;
  histogram.bounds_s = PacketTimeBounds(expected_packet_ms, packets_per_judged);
  histogram.counts.assign(histogram.bounds_s.size() + 1, 0);
  return histogram;
}

void AdvancePacketTimes(PacketTimeHistogram* histogram, int64_t good, double total_ms) {
  if (good > 0 && static_cast<uint64_t>(good) > histogram->count) {
    const uint64_t added = static_cast<uint64_t>(good) - histogram->count;
    const double added_ms = std::max(0.0, total_ms - histogram->counted_ms);
    const double average_s = added_ms / static_cast<double>(added) / kMsPerSecond;
    // The first bound at or above the time: Prometheus's buckets are "less
    // than or equal".
    const auto bucket =
        std::lower_bound(histogram->bounds_s.begin(), histogram->bounds_s.end(), average_s) -
        histogram->bounds_s.begin();
    histogram->counts[static_cast<size_t>(bucket)] += added;
    histogram->count = static_cast<uint64_t>(good);
    histogram->counted_ms = std::max(histogram->counted_ms, total_ms);
  }
  histogram->sum_ms = std::max(histogram->sum_ms, total_ms);
}

std::vector<MetricFamily> StationMetricFamilies(const StationView& view) {
  Families f(view);
  const RunSnapshot& run = view.figures;
  f.Gauge("quarnex_run_start_time_seconds", "When the run started, seconds since the epoch.",
          static_cast<double>(view.started_at));
  f.Gauge("quarnex_run_elapsed_seconds", "Run time at these figures.", run.ElapsedSeconds);
  f.Gauge("quarnex_run_finished",
          "1 once the figures are the run's final ones (its summary's), else 0.",
          view.finished ? 1.0 : 0.0);
  if (view.bit_rate) {
    f.Gauge("quarnex_line_rate_bits_per_second", "The line rate the run asks for (BitRate).",
            static_cast<double>(*view.bit_rate));
  }
  if (std::isfinite(run.ExpectedPacketTime) && run.ExpectedPacketTime > 0.0) {
    f.Gauge("quarnex_expected_packet_time_seconds", "The ideal time of one packet on the line.",
            run.ExpectedPacketTime / kMsPerSecond);
  }
  f.Gauge("quarnex_packet_size_bytes", "Bytes per packet.", view.packet_size);
  int open = 0;
  for (const PortSnapshot& port : run.Ports) open += port.Counters.Open ? 1 : 0;
  f.Gauge("quarnex_ports", "Ports in the run's range.", static_cast<double>(run.Ports.size()));
  f.Gauge("quarnex_ports_open", "Ports whose device is open.", open);
  for (size_t i = 0; i < run.Ports.size(); ++i) {
    AddPortSeries(&f, run.Ports[i], run,
                  i < view.histograms.size() ? &view.histograms[i] : nullptr);
  }
  return f.Take();
}

}  // namespace quarnex
