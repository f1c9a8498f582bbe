// The Prometheus metrics of a test station: what a run shows at one moment,
// as metric families in prometheus-cpp's records, ready to be serialised.
//
// The values come from the runner's own snapshots (RunSnapshot) through the
// functions the JSON summary uses (AveragePacketMs, ThroughputPct,
// VerdictSinceStart), so a scrape of the final figures equals the summary
// counter for counter. Names follow Prometheus's conventions: counters end
// in _total, times are seconds, shares are ratios (0 to 1).
//
// Every series carries the labels `station` (the runner's --label) and
// `mode`; a port's series add `port` (its number).
//
// Plain records and pure functions; any thread.
#ifndef QUARNEX_STATION_METRICS_FAMILIES_H_
#define QUARNEX_STATION_METRICS_FAMILIES_H_

#include <prometheus/metric_family.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "testapp/report/run_snapshot.h"

namespace quarnex {

// The good packets' times of one port, gathered from successive snapshots
// of its counters. The runner sees no single packet, only how many good
// packets a port judged and their total time between two looks (about
// 20 ms apart), so the packets between two looks fall into the bucket of
// their average time; where a look saw one packet, as on any paced line of
// more than a few ms a packet, that is its own time. The count and the sum
// are exact: they follow the counters.
struct PacketTimeHistogram {
  std::vector<double> bounds_s;  // the buckets' upper bounds, ascending, +Inf left out
  // Packets per bucket, not cumulative; one more than bounds_s (+Inf).
  std::vector<uint64_t> counts;
  uint64_t count = 0;   // the good packets seen
  double sum_ms = 0.0;  // their total time
  // The total time when the count last grew: the time since then belongs
  // to the packets not yet counted.
  double counted_ms = 0.0;
};

// Upper bounds (seconds) placed around the time one judged packet should
// take, `expected_packet_ms` x `packets_per_judged`: 0.99x to 2x, with a
// wide one below and three above. Without a line rate (expected not finite
// or not above 0), fixed bounds from 100 us to 10 s.
std::vector<double> PacketTimeBounds(double expected_packet_ms, double packets_per_judged);

// An empty histogram with those bounds.
PacketTimeHistogram MakePacketTimeHistogram(double expected_packet_ms, double packets_per_judged);

// Counts the packets a port judged good since the previous call: `good`
// and `total_ms` are its GoodPacketCount and TotalPacketTime now. The new
// packets go into the bucket of their average time; afterwards count and
// sum_ms are `good` and `total_ms`. The two counters are read apart, so a
// look may see a packet's time before its count: time that came without
// a packet is added to the sum and weighs on the next packets' average.
void AdvancePacketTimes(PacketTimeHistogram* histogram, int64_t good, double total_ms);

// One station's run as the endpoint shows it.
struct StationView {
  std::string station;
  std::string mode;  // ModeName of the run
  std::time_t started_at = 0;
  std::optional<int32_t> bit_rate;  // bit/s; empty before a port was configured
  int32_t packet_size = 0;
  // True once `figures` are the stop record's: the counters are final.
  bool finished = false;
  RunSnapshot figures;
  // One per port of figures, in the same order; may be shorter (no
  // histogram for the ports past its end).
  std::vector<PacketTimeHistogram> histograms;
};

// The metric families of `view`. Series whose value is unknown (the
// throughput without a line rate, the packet times before a good packet)
// are left out rather than shown as NaN.
std::vector<prometheus::MetricFamily> StationMetricFamilies(const StationView& view);

}  // namespace quarnex

#endif  // QUARNEX_STATION_METRICS_FAMILIES_H_
