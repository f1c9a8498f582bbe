// The figures behind the live plot of a run: for every port and for all
// ports together, the throughput over time, and when errors were counted.
//
// The window samples the engine's counters on a timer (SnapshotOpenPorts)
// and hands each snapshot to RunSeries::Sample. A sample turns into one
// figure per port for the time since the port's previous sample: in percent
// of the line rate when the run has a bit rate (the figure of the table's
// "(T.P.)", ThroughputPercent over the interval's good packets), otherwise
// good packets per second. "All ports" is the mean of the ports' figures of
// that sample, so one dead line pulls it down rather than vanishing in a sum.
//
// Memory is bounded whatever the length of the run: a series keeps at most
// `max_points` points. When it is full, neighbouring points merge in pairs
// and from then on each point spans twice as many samples, so the whole
// run stays in view at an even resolution (a 24-hour run at two samples a
// second ends with points of about two minutes each).
//
// Plain C++, no Qt. Not thread-safe: one thread (the user-interface thread)
// makes every call.
#ifndef QUARNEX_UI_PLOT_SERIES_H_
#define QUARNEX_UI_PLOT_SERIES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "testapp/report/port_counters.h"

namespace quarnex {

// What a run's figures measure.
enum class PlotUnit {
  kPercentOfLineRate,     // the run has a bit rate
  kGoodPacketsPerSecond,  // it has none: the line is unpaced
};

// One point of a series: the samples up to `seconds` since it began.
struct PlotPoint {
  double seconds = 0.0;  // the end of the point's time, since Start
  // The mean of the samples' figures; NaN when no sample had one (in
  // percent, a port that judged no packet has no figure).
  double value = 0.0;
  int64_t errors = 0;  // errors counted during the point's time
};

// One series: figures added sample by sample, merged in pairs when full.
class PlotSeries {
 public:
  // Keeps at most `max_points` points; an odd number is rounded down, and
  // fewer than 2 become 2.
  explicit PlotSeries(size_t max_points);

  void Clear();
  // Adds one sample ending at `seconds`: the sum of `count` figures (the
  // sample's value is the sum over the count; count 0: no figure) and the
  // errors counted since the previous sample.
  void Add(double seconds, double value_sum, int count, int64_t errors);

  size_t Size() const { return buckets_.size(); }
  PlotPoint Point(size_t i) const;
  // Samples per point: 1 until the series first filled up, then doubling
  // at each merge. The last point may hold fewer while it fills.
  int64_t SamplesPerPoint() const { return stride_; }
  size_t MaxPoints() const { return max_points_; }

 private:
  struct Bucket {
    double seconds = 0.0;
    double value_sum = 0.0;
    int64_t count = 0;  // samples with a figure
    int64_t samples = 0;
    int64_t errors = 0;
  };
  // Merges neighbours in pairs: half the points, each twice as long.
  void MergePairs();

  size_t max_points_;
  int64_t stride_ = 1;
  // Every bucket but the last holds `stride_` samples.
  std::vector<Bucket> buckets_;
};

// Every series of one run: one per slot and one for all ports.
class RunSeries {
 public:
  // About a point per pixel of a wide plot; 129 full series take about
  // 5 MB.
  static constexpr size_t kDefaultMaxPoints = 1024;

  explicit RunSeries(size_t max_points = kDefaultMaxPoints);

  // Forgets the previous run. Slots 0 .. port_count - 1 are the ports
  // first_port ... (port_count is kept within 0 .. kMaxPorts). The run's
  // ideal packet time decides the unit: above 0 and finite, percent of the
  // line rate with `packets_per_judged` (PacketsPerJudgedPacket) as the
  // factor; otherwise good packets per second. Every counter counts from 0
  // at second 0.
  void Reset(int first_port, int port_count, double expected_packet_ms, double packets_per_judged);

  // Adds a snapshot taken `seconds` after Start: the counters of the ports
  // open at that moment (PortNumber tells the slot; other numbers are
  // skipped). A port left out (closed, lost) adds nothing. A snapshot not
  // later than the one before is skipped.
  void Sample(double seconds, const std::vector<PortCounters>& ports);

  PlotUnit Unit() const { return unit_; }
  int FirstPort() const { return first_port_; }
  int PortCount() const { return static_cast<int>(ports_.size()); }
  // The series of `slot` (0 .. PortCount() - 1).
  const PlotSeries& Port(int slot) const { return ports_[static_cast<size_t>(slot)].series; }
  const PlotSeries& AllPorts() const { return all_; }
  // The time of the last snapshot taken, 0 before the first.
  double LastSeconds() const { return last_seconds_; }

 private:
  struct PortTrack {
    explicit PortTrack(size_t max_points) : series(max_points) {}
    PlotSeries series;
    // The counters and time of the port's previous snapshot.
    double seconds = 0.0;
    int64_t packets = 0;
    int64_t good = 0;
    int64_t errors = 0;
    double packet_time_ms = 0.0;
  };
  // The port's figure over the time since its previous snapshot; NaN for
  // none.
  double Figure(const PortTrack& track, const PortCounters& now, double seconds) const;

  size_t max_points_;
  PlotUnit unit_ = PlotUnit::kGoodPacketsPerSecond;
  double expected_packet_ms_ = 0.0;
  double packets_per_judged_ = 1.0;
  int first_port_ = 0;
  std::vector<PortTrack> ports_;
  PlotSeries all_;
  double last_seconds_ = 0.0;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_PLOT_SERIES_H_
