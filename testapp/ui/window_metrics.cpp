#include "testapp/ui/window_metrics.h"

#include <ctime>
#include <utility>

#include "testapp/engine/port_snapshot.h"
#include "testapp/station/run_outcome.h"
#include "testapp/station/saved_results.h"
#include "testapp/station/station_features.h"
#include "testapp/station/station_outputs.h"
#include "testapp/station/station_run.h"

#if QUARNEX_HAVE_PROMETHEUS
#include "testapp/station/metrics_endpoint.h"
#endif

namespace quarnex {

#if !QUARNEX_HAVE_PROMETHEUS
// Never made without prometheus-cpp; the unique_ptr needs a whole type.
class MetricsEndpoint {};
#endif

WindowMetrics::WindowMetrics(const RunContext& context, std::function<std::vector<RowNotes>()> rows,
                             QObject* parent)
    : QObject(parent), context_(context), rows_(std::move(rows)) {
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, &WindowMetrics::Poll);
}

WindowMetrics::~WindowMetrics() = default;

bool WindowMetrics::Available() { return QUARNEX_HAVE_PROMETHEUS != 0; }

RunSnapshot WindowMetrics::Figures() const {
  RunSnapshot snapshot =
      TakeRunSnapshot(context_, static_cast<double>(elapsed_.elapsed()) / 1000.0);
  AttachRowNotes(rows_(), &snapshot);
  return snapshot;
}

bool WindowMetrics::RunStarted(const MetricsSetting& setting, std::string* error) {
  poll_.stop();
  if (!setting.serve) {
    Close();
    return true;
  }
#if QUARNEX_HAVE_PROMETHEUS
  if (endpoint_ == nullptr || address_ != setting.address) {
    endpoint_.reset();
    endpoint_ = MetricsEndpoint::Start(setting.address, StationLabel(StationRun()), error);
    if (endpoint_ == nullptr) return false;
    address_ = setting.address;
  }
  // As the runner describes a run with its default log and limits,
  // published every kPublishS.
  StationRun station;
  station.log_path = kLogFileName;
  station.interval_s = kPublishS;
  const std::time_t now = std::time(nullptr);
  elapsed_.start();
  published_ = Figures();
  opened_.clear();
  for (const PortSnapshot& port : published_.Ports) {
    if (port.Opened) opened_.push_back(port.Slot);
  }
  endpoint_->BeginRun(context_, DescribeRun(context_, station, true, now), now, published_);
  poll_.start();
  return true;
#else
  *error = "cannot serve metrics: the window was built without prometheus-cpp";
  return false;
#endif
}

void WindowMetrics::Poll() {
#if QUARNEX_HAVE_PROMETHEUS
  if (endpoint_ == nullptr) return;
  const double elapsed_s = static_cast<double>(elapsed_.elapsed()) / 1000.0;
  endpoint_->RunPolled(opened_, elapsed_s);
  if (elapsed_s - published_.ElapsedSeconds < kPublishS) return;
  RunSnapshot now = Figures();
  endpoint_->RunInterval(now, published_);
  published_ = std::move(now);
#endif
}

void WindowMetrics::RunStopped(const std::vector<PortCounters>& stop_counters) {
  if (!poll_.isActive()) return;
  poll_.stop();
#if QUARNEX_HAVE_PROMETHEUS
  WindowRun run;
  run.elapsed_s = static_cast<double>(elapsed_.elapsed()) / 1000.0;
  run.stop_counters = stop_counters;
  endpoint_->RunStopping(WindowRunSnapshot(context_, rows_(), run));
#else
  (void)stop_counters;
#endif
}

void WindowMetrics::Close() {
  poll_.stop();
  endpoint_.reset();
  address_.clear();
}

int WindowMetrics::Port() const {
#if QUARNEX_HAVE_PROMETHEUS
  if (endpoint_ != nullptr) return endpoint_->Port();
#endif
  return 0;
}

}  // namespace quarnex
