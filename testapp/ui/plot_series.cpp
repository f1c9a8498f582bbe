#include "testapp/ui/plot_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "testapp/report/row_text.h"
#include "testapp/settings/records.h"

namespace quarnex {
namespace {

constexpr double kNoFigure = std::numeric_limits<double>::quiet_NaN();
constexpr size_t kMinPoints = 2;

}  // namespace

PlotSeries::PlotSeries(size_t max_points)
    : max_points_(std::max(kMinPoints, max_points - max_points % 2)) {}

void PlotSeries::Clear() {
  buckets_.clear();
  stride_ = 1;
}

void PlotSeries::Add(double seconds, double value_sum, int count, int64_t errors) {
  if (buckets_.empty() || buckets_.back().samples >= stride_) {
    if (buckets_.size() == max_points_) MergePairs();
    buckets_.push_back(Bucket{});
  }
  Bucket& b = buckets_.back();
  b.seconds = seconds;
  if (count > 0) {
    b.value_sum += value_sum;
    b.count += count;
  }
  ++b.samples;
  b.errors += errors;
}

void PlotSeries::MergePairs() {
  // Only called when every bucket is full and their number is even.
  for (size_t i = 0; i < buckets_.size() / 2; ++i) {
    const Bucket& first = buckets_[2 * i];
    const Bucket& second = buckets_[2 * i + 1];
    buckets_[i] =
        Bucket{second.seconds, first.value_sum + second.value_sum, first.count + second.count,
               first.samples + second.samples, first.errors + second.errors};
  }
  buckets_.resize(buckets_.size() / 2);
  stride_ *= 2;
}

PlotPoint PlotSeries::Point(size_t i) const {
  const Bucket& b = buckets_[i];
  return PlotPoint{b.seconds, b.count > 0 ? b.value_sum / static_cast<double>(b.count) : kNoFigure,
                   b.errors};
}

RunSeries::RunSeries(size_t max_points) : max_points_(max_points), all_(max_points) {}

void RunSeries::Reset(int first_port, int port_count, double expected_packet_ms,
                      double packets_per_judged) {
  first_port_ = first_port;
  const bool paced = std::isfinite(expected_packet_ms) && expected_packet_ms > 0.0;
  unit_ = paced ? PlotUnit::kPercentOfLineRate : PlotUnit::kGoodPacketsPerSecond;
  expected_packet_ms_ = paced ? expected_packet_ms : 0.0;
  packets_per_judged_ = packets_per_judged;
  ports_.clear();
  ports_.reserve(static_cast<size_t>(std::clamp(port_count, 0, kMaxPorts)));
  for (int i = 0; i < std::clamp(port_count, 0, kMaxPorts); ++i) ports_.emplace_back(max_points_);
  all_.Clear();
  last_seconds_ = 0.0;
}

double RunSeries::Figure(const PortTrack& track, const PortCounters& now, double seconds) const {
  const int64_t good = now.GoodPacketCount - track.good;
  if (unit_ == PlotUnit::kGoodPacketsPerSecond) {
    return static_cast<double>(good) / (seconds - track.seconds);
  }
  // A port that judged nothing in the interval (a packet longer than it, a
  // pause) has no figure; one whose every packet failed delivered nothing.
  if (now.PacketCount == track.packets) return kNoFigure;
  if (good <= 0) return 0.0;
  const double average_ms =
      (now.TotalPacketTime - track.packet_time_ms) / static_cast<double>(good);
  return ThroughputPercent(expected_packet_ms_, average_ms, packets_per_judged_);
}

void RunSeries::Sample(double seconds, const std::vector<PortCounters>& ports) {
  if (!(seconds > last_seconds_)) return;
  last_seconds_ = seconds;
  double sum = 0.0;
  int count = 0;
  int64_t errors = 0;
  for (const PortCounters& now : ports) {
    const int64_t slot = int64_t{now.PortNumber} - first_port_;
    if (slot < 0 || slot >= PortCount()) continue;
    PortTrack& track = ports_[static_cast<size_t>(slot)];
    if (!(seconds > track.seconds)) continue;
    const double figure = Figure(track, now, seconds);
    const int64_t new_errors = now.ErrorCount - track.errors;
    const bool has_figure = !std::isnan(figure);
    track.series.Add(seconds, has_figure ? figure : 0.0, has_figure ? 1 : 0, new_errors);
    if (has_figure) {
      sum += figure;
      ++count;
    }
    errors += new_errors;
    track.seconds = seconds;
    track.packets = now.PacketCount;
    track.good = now.GoodPacketCount;
    track.errors = now.ErrorCount;
    track.packet_time_ms = now.TotalPacketTime;
  }
  all_.Add(seconds, sum, count, errors);
}

}  // namespace quarnex
