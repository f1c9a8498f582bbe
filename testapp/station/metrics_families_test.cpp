#include "testapp/station/metrics_families.h"

#include <gtest/gtest.h>
#include <prometheus/check_names.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quarnex {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

// Three ports: 5 judged packets, two of them bad; 6 is open but judged
// none; 7 did not open. 8 ms ideal packet time.
StationView ThreePorts() {
  StationView view;
  view.station = "rack-3";
  view.mode = "loopback";
  view.started_at = 1767225600;
  view.bit_rate = 115200;
  view.packet_size = 92;
  RunSnapshot& run = view.figures;
  run.ElapsedSeconds = 12.5;
  run.ExpectedPacketTime = 8.0;
  run.Ports.resize(3);
  for (int i = 0; i < 3; ++i) {
    PortSnapshot& port = run.Ports[static_cast<size_t>(i)];
    port.Slot = i;
    port.Counters.PortNumber = 5 + i;
    port.Row = i;
    port.Opened = i < 2;
    port.Counters.Open = i < 2;
  }
  PortSnapshot& busy = run.Ports[0];
  PortCounters& c = busy.Counters;
  c.PacketCount = 13;
  c.GoodPacketCount = 10;
  c.ErrorCount = 2;
  c.WriteFailedCount = 1;
  c.ReadFailedCount = 3;
  c.ReadAbortedCount = 4;
  c.LengthMismatchCount = 5;
  c.DataMismatchCount = 6;
  c.WriteAbortedCount = 7;
  c.TotalPacketTime = 100.0;
  c.LineErrorCount = {11, 12, 13, 14, 15, 16};
  busy.Counters.ReadTimeoutCount = 2;
  busy.Counters.WriteTimeoutCount = 1;
  busy.LastPacketTime = 9.0;
  busy.MaxPacketTime = 12.0;
  return view;
}

const MetricFamily* FindFamily(const std::vector<MetricFamily>& families, const std::string& name) {
  for (const MetricFamily& family : families) {
    if (family.name == name) return &family;
  }
  return nullptr;
}

std::string LabelValue(const ClientMetric& metric, const std::string& name) {
  for (const ClientMetric::Label& label : metric.label) {
    if (label.name == name) return label.value;
  }
  return "";
}

// The series of `name` for `port` (empty: the run-wide one) whose extra
// label, when given, has that value; null when there is none.
const ClientMetric* Find(const std::vector<MetricFamily>& families, const std::string& name,
                         const std::string& port, const std::string& label = "",
                         const std::string& value = "") {
  const MetricFamily* family = FindFamily(families, name);
  if (family == nullptr) return nullptr;
  for (const ClientMetric& metric : family->metric) {
    if (LabelValue(metric, "port") != port) continue;
    if (!label.empty() && LabelValue(metric, label) != value) continue;
    return &metric;
  }
  return nullptr;
}

TEST(MetricsFamiliesTest, PortCountersAreTheSnapshotsCounters) {
  const std::vector<MetricFamily> families = StationMetricFamilies(ThreePorts());
  struct Case {
    const char* name;
    const char* label;
    const char* value;
    double expected;
  };
  const Case cases[] = {
      {"quarnex_packets_total", "", "", 13},
      {"quarnex_good_packets_total", "", "", 10},
      {"quarnex_errors_total", "", "", 2},
      {"quarnex_error_causes_total", "cause", "write_failed", 1},
      {"quarnex_error_causes_total", "cause", "write_aborted", 7},
      {"quarnex_error_causes_total", "cause", "read_failed", 3},
      {"quarnex_error_causes_total", "cause", "read_aborted", 4},
      {"quarnex_error_causes_total", "cause", "length_mismatch", 5},
      {"quarnex_error_causes_total", "cause", "data_mismatch", 6},
      {"quarnex_timeouts_total", "direction", "read", 2},
      {"quarnex_timeouts_total", "direction", "write", 1},
      {"quarnex_line_errors_total", "kind", "break", 11},
      {"quarnex_line_errors_total", "kind", "framing", 12},
      {"quarnex_line_errors_total", "kind", "overrun", 13},
      {"quarnex_line_errors_total", "kind", "receive_overflow", 14},
      {"quarnex_line_errors_total", "kind", "parity", 15},
      {"quarnex_line_errors_total", "kind", "transmit_full", 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.value);
    const ClientMetric* busy = Find(families, c.name, "5", c.label, c.value);
    ASSERT_NE(busy, nullptr);
    EXPECT_EQ(busy->counter.value, c.expected);
    // The ports that judged nothing, opened or not, count 0 rather than
    // dropping out of a sum over the station.
    for (const char* idle : {"6", "7"}) {
      const ClientMetric* other = Find(families, c.name, idle, c.label, c.value);
      ASSERT_NE(other, nullptr) << idle;
      EXPECT_EQ(other->counter.value, 0.0);
    }
  }
}

TEST(MetricsFamiliesTest, GaugesFollowTheSummaryFiguresAndAreLeftOutWhenUnknown) {
  StationView view = ThreePorts();
  std::vector<MetricFamily> families = StationMetricFamilies(view);
  // The summary's figures, in base units: 8 ms over a 10 ms average.
  ASSERT_NE(Find(families, "quarnex_throughput_ratio", "5"), nullptr);
  EXPECT_DOUBLE_EQ(Find(families, "quarnex_throughput_ratio", "5")->gauge.value, 0.8);
  EXPECT_DOUBLE_EQ(Find(families, "quarnex_packet_time_average_seconds", "5")->gauge.value, 0.010);
  EXPECT_DOUBLE_EQ(Find(families, "quarnex_packet_time_last_seconds", "5")->gauge.value, 0.009);
  EXPECT_DOUBLE_EQ(Find(families, "quarnex_packet_time_max_seconds", "5")->gauge.value, 0.012);
  // Without a good packet there is no time and no throughput, not a 0.
  for (const char* name : {"quarnex_throughput_ratio", "quarnex_packet_time_average_seconds",
                           "quarnex_packet_time_last_seconds", "quarnex_packet_time_max_seconds"}) {
    EXPECT_EQ(Find(families, name, "6"), nullptr) << name;
    EXPECT_EQ(Find(families, name, "7"), nullptr) << name;
  }
  // Without a line rate the throughput is unknown.
  view.figures.ExpectedPacketTime = 0.0;
  view.bit_rate.reset();
  families = StationMetricFamilies(view);
  EXPECT_EQ(Find(families, "quarnex_throughput_ratio", "5"), nullptr);
  EXPECT_EQ(Find(families, "quarnex_line_rate_bits_per_second", ""), nullptr);
  EXPECT_EQ(Find(families, "quarnex_expected_packet_time_seconds", ""), nullptr);
  EXPECT_NE(Find(families, "quarnex_packet_time_average_seconds", "5"), nullptr);
}

TEST(MetricsFamiliesTest, EachPortIsInExactlyOneState) {
  StationView view = ThreePorts();
  PortSnapshot lost = view.figures.Ports[0];
  lost.Counters.PortNumber = 8;
  lost.Counters.Lost = true;
  view.figures.Ports.push_back(lost);
  const std::vector<MetricFamily> families = StationMetricFamilies(view);
  const std::pair<const char*, const char*> expected[] = {
      {"5", "failed"}, {"6", "no_packet_judged"}, {"7", "not_opened"}, {"8", "lost"}};
  for (const auto& [port, state] : expected) {
    int ones = 0;
    for (const ClientMetric& metric : FindFamily(families, "quarnex_port_state")->metric) {
      if (LabelValue(metric, "port") != port || metric.gauge.value == 0.0) continue;
      ++ones;
      EXPECT_EQ(LabelValue(metric, "state"), state) << port;
    }
    EXPECT_EQ(ones, 1) << port;
  }
}

TEST(MetricsFamiliesTest, RunWideGaugesDescribeTheRun) {
  StationView view = ThreePorts();
  view.figures.Ports[1].Counters.Open = false;  // closed since the start
  std::vector<MetricFamily> families = StationMetricFamilies(view);
  const std::pair<const char*, double> expected[] = {
      {"quarnex_run_start_time_seconds", 1767225600.0},
      {"quarnex_run_elapsed_seconds", 12.5},
      {"quarnex_run_finished", 0.0},
      {"quarnex_line_rate_bits_per_second", 115200.0},
      {"quarnex_expected_packet_time_seconds", 0.008},
      {"quarnex_packet_size_bytes", 92.0},
      {"quarnex_ports", 3.0},
      {"quarnex_ports_open", 1.0},
  };
  for (const auto& [name, value] : expected) {
    const ClientMetric* metric = Find(families, name, "");
    ASSERT_NE(metric, nullptr) << name;
    EXPECT_DOUBLE_EQ(metric->gauge.value, value) << name;
  }
  view.finished = true;
  families = StationMetricFamilies(view);
  EXPECT_EQ(Find(families, "quarnex_run_finished", "")->gauge.value, 1.0);
}

TEST(MetricsFamiliesTest, NamesAndLabelsFollowPrometheusConventions) {
  StationView view = ThreePorts();
  view.histograms.assign(3, MakePacketTimeHistogram(8.0, 1.0));
  const std::vector<MetricFamily> families = StationMetricFamilies(view);
  std::set<std::string> names;
  for (const MetricFamily& family : families) {
    SCOPED_TRACE(family.name);
    EXPECT_TRUE(names.insert(family.name).second) << "one family per name";
    EXPECT_TRUE(prometheus::CheckMetricName(family.name));
    EXPECT_TRUE(family.name.starts_with("quarnex_"));
    EXPECT_FALSE(family.help.empty());
    EXPECT_EQ(family.name.ends_with("_total"), family.type == MetricType::Counter);
    EXPECT_FALSE(family.metric.empty());
    for (const ClientMetric& metric : family.metric) {
      std::set<std::string> label_names;
      for (const ClientMetric::Label& label : metric.label) {
        EXPECT_TRUE(prometheus::CheckLabelName(label.name)) << label.name;
        EXPECT_TRUE(label_names.insert(label.name).second) << label.name;
      }
      EXPECT_EQ(LabelValue(metric, "station"), "rack-3");
      EXPECT_EQ(LabelValue(metric, "mode"), "loopback");
    }
  }
}

// The dashboard in contrib/grafana asks only for series the endpoint
// serves.
TEST(MetricsFamiliesTest, TheDashboardUsesOnlyTheseMetrics) {
  StationView view = ThreePorts();
  view.bit_rate = 115200;
  view.histograms.assign(3, MakePacketTimeHistogram(8.0, 1.0));
  std::set<std::string> served;
  for (const MetricFamily& family : StationMetricFamilies(view)) {
    served.insert(family.name);
    if (family.type == MetricType::Histogram) {
      for (const char* suffix : {"_bucket", "_count", "_sum"}) served.insert(family.name + suffix);
    }
  }
  std::ifstream in(QUARNEX_SOURCE_DIR "/contrib/grafana/quarnex.json");
  ASSERT_TRUE(in.good());
  std::stringstream dashboard;
  dashboard << in.rdbuf();
  const std::string text = dashboard.str();
  // Every "quarnex_" followed by lower-case letters and underscores.
  int uses = 0;
  const std::string prefix = "quarnex_";
  for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
    size_t end = at + prefix.size();
    while (end < text.size() && ((text[end] >= 'a' && text[end] <= 'z') || text[end] == '_')) ++end;
    if (end == at + prefix.size()) continue;
    ++uses;
    const std::string name = text.substr(at, end - at);
    EXPECT_TRUE(served.contains(name)) << name;
  }
  EXPECT_GT(uses, 10);
}

TEST(MetricsFamiliesTest, BucketsLieAroundTheIdealTimeOfAJudgedPacket) {
  // A file of 2.5 packets a judged packet: the ideal time is 2.5 x 8 ms.
  const std::vector<double> bounds = PacketTimeBounds(8.0, 2.5);
  ASSERT_TRUE(std::is_sorted(bounds.begin(), bounds.end()));
  for (double factor : {0.99, 1.0, 1.01, 1.02, 1.05, 1.1, 1.2, 1.5, 2.0}) {
    EXPECT_TRUE(std::any_of(bounds.begin(), bounds.end(), [factor](double b) {
      return std::abs(b - 0.020 * factor) < 1e-12;
    })) << factor;
  }
  EXPECT_LT(bounds.front(), 0.020 * 0.99);
  EXPECT_GT(bounds.back(), 0.020 * 2.0);
  // No line rate: fixed bounds, still sorted and covering ms to seconds.
  for (double expected : {0.0, std::numeric_limits<double>::infinity()}) {
    const std::vector<double> fixed = PacketTimeBounds(expected, 1.0);
    ASSERT_TRUE(std::is_sorted(fixed.begin(), fixed.end()));
    EXPECT_LE(fixed.front(), 1e-4);
    EXPECT_GE(fixed.back(), 10.0);
  }
}

TEST(MetricsFamiliesTest, HistogramCountsEachLooksPacketsAtTheirAverageAndEndsOnTheCounters) {
  // Bounds at 10 ms: ..., 9.9, 10, 10.1, 10.2, 10.5, 11, 12, 15, 20, 50, ...
  PacketTimeHistogram h = MakePacketTimeHistogram(10.0, 1.0);
  const auto bucket_of = [&h](double seconds) {
    return static_cast<size_t>(std::lower_bound(h.bounds_s.begin(), h.bounds_s.end(), seconds) -
                               h.bounds_s.begin());
  };
  struct Look {
    int64_t good;
    double total_ms;
  };
  // One packet of 10 ms; two of 12 ms on average; a look that saw a
  // packet's 15 ms before its count (nothing counted, the time kept in the
  // sum); its count; a look of nothing new.
  AdvancePacketTimes(&h, 1, 10.0);
  AdvancePacketTimes(&h, 3, 34.0);
  AdvancePacketTimes(&h, 3, 49.0);  // 15 ms of a packet not yet counted
  AdvancePacketTimes(&h, 4, 49.0);  // its count: one packet of 15 ms
  AdvancePacketTimes(&h, 4, 49.0);
  EXPECT_EQ(h.counts[bucket_of(0.010)], 1u);
  EXPECT_EQ(h.counts[bucket_of(0.012)], 2u);
  EXPECT_EQ(h.counts[bucket_of(0.015)], 1u);
  EXPECT_EQ(h.count, 4u);
  EXPECT_DOUBLE_EQ(h.sum_ms, 49.0);
  uint64_t total = 0;
  for (uint64_t n : h.counts) total += n;
  EXPECT_EQ(total, 4u);
  // A stall far past every bound lands in +Inf.
  AdvancePacketTimes(&h, 5, 49.0 + 10.0 * 1000.0);
  EXPECT_EQ(h.counts.back(), 1u);

  // As the endpoint shows it: cumulative buckets, +Inf equal to the count,
  // the sum in seconds.
  StationView view = ThreePorts();
  view.histograms = {h};
  const std::vector<MetricFamily> families = StationMetricFamilies(view);
  const ClientMetric* series = Find(families, "quarnex_packet_time_seconds", "5");
  ASSERT_NE(series, nullptr);
  EXPECT_EQ(Find(families, "quarnex_packet_time_seconds", "6"), nullptr);
  EXPECT_EQ(FindFamily(families, "quarnex_packet_time_seconds")->type, MetricType::Histogram);
  const auto& buckets = series->histogram.bucket;
  ASSERT_EQ(buckets.size(), h.bounds_s.size() + 1);
  EXPECT_EQ(buckets[bucket_of(0.012)].cumulative_count, 3u);
  EXPECT_TRUE(std::isinf(buckets.back().upper_bound));
  EXPECT_EQ(buckets.back().cumulative_count, 5u);
  EXPECT_EQ(series->histogram.sample_count, 5u);
  EXPECT_DOUBLE_EQ(series->histogram.sample_sum, 10.049);
}

}  // namespace
}  // namespace quarnex
