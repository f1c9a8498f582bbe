#include "testapp/station/metrics_endpoint.h"

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/text_serializer.h>

#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/station/metrics_families.h"
#include "testapp/station/station_run.h"

namespace quarnex {

namespace {

// The server serves each connection on one of its worker threads for as
// long as the client takes to send its request and take the reply, and
// takes connections in the order they came. So that a client that
// connects and sends nothing (or sends slowly) never holds up a scrape:
// many workers, each held by such a client for at most the request time
// (a scrape's request is a few hundred bytes sent at once), and short
// queues, so that few of a flood of connections wait ahead of a scrape
// (the kernel refuses the rest until there is room). Measured with 2000
// idle connections: a scrape answered within about half a second.
constexpr int kServerThreads = 32;
constexpr int kRequestTimeoutMs = 500;
constexpr int kConnectionQueue = 16;  // accepted, waiting for a worker
constexpr int kListenBacklog = 16;    // waiting in the kernel for accept

// The server's options for serving on `address` (CivetWeb's names).
std::vector<std::string> ServerOptions(const std::string& address) {
  return {"listening_ports",    address,
          "num_threads",        std::to_string(kServerThreads),
          "request_timeout_ms", std::to_string(kRequestTimeoutMs),
          "connection_queue",   std::to_string(kConnectionQueue),
          "listen_backlog",     std::to_string(kListenBacklog)};
}

// What scrapes read: the last publication. Collect runs on the server's
// thread, the rest on the runner's main thread.
class Publication : public prometheus::Collectable {
 public:
  explicit Publication(std::string station) { view_.station = std::move(station); }

  std::vector<prometheus::MetricFamily> Collect() const override {
    StationView copy;
    {
      std::lock_guard lock(mu_);
      copy = view_;
    }
    return StationMetricFamilies(copy);
  }

  // A new run: nothing of the last one stays, not even its final figures.
  void Clear() {
    std::lock_guard lock(mu_);
    std::string station = std::move(view_.station);
    view_ = StationView();
    view_.station = std::move(station);
  }

  // Sets what the run is; its figures come later.
  void Describe(const RunDescription& run, std::time_t started_at) {
    std::lock_guard lock(mu_);
    view_.mode = ModeName(run.mode);
    view_.started_at = started_at;
    view_.bit_rate = run.bit_rate;
    view_.packet_size = run.packet_size;
  }

  // Builds the histograms for the ports of `figures` around its packet
  // time; the buckets stay for the run.
  void ShapeHistograms(const RunSnapshot& figures) {
    live_.assign(figures.Ports.size(),
                 MakePacketTimeHistogram(figures.ExpectedPacketTime, figures.PacketsPerJudged));
  }

  // Feeds the live counters of the opened slots into the histograms. They
  // show with the next figures, so a scrape never counts more packets in
  // the histogram than in its counters.
  void SampleLive(const RunState& run, const std::vector<int>& opened) {
    for (int slot : opened) {
      if (slot < 0 || static_cast<size_t>(slot) >= live_.size()) continue;
      const PortContext& port = run.Ports[static_cast<size_t>(slot)];
      AdvancePacketTimes(&live_[static_cast<size_t>(slot)], port.GoodPacketCount.load(),
                         port.TotalPacketTime.load());
    }
  }

  // Shows `figures` from now on; once final figures were shown nothing
  // replaces them.
  // The figures are taken after every live look, so the histograms end on
  // their counters.
  void Show(const RunSnapshot& figures, bool final_figures) {
    for (size_t i = 0; i < figures.Ports.size() && i < live_.size(); ++i) {
      const PortCounters& c = figures.Ports[i].Counters;
      AdvancePacketTimes(&live_[i], c.GoodPacketCount, c.TotalPacketTime);
    }
    std::lock_guard lock(mu_);
    if (view_.finished) return;
    view_.figures = figures;
    view_.histograms = live_;
    view_.finished = final_figures;
  }

 private:
  mutable std::mutex mu_;
  StationView view_;  // guarded by mu_
  // Fed between two publications; the runner's main thread only.
  std::vector<PacketTimeHistogram> live_;
};

}  // namespace

struct MetricsEndpoint::Impl {
  std::shared_ptr<Publication> publication;
  // Declared after the publication, so it stops serving before the
  // publication goes.
  std::unique_ptr<prometheus::Exposer> exposer;
  // The runner's main thread only. The run being followed (null before
  // the first), and its table when the endpoint takes its own snapshots.
  const RunContext* context = nullptr;
  const CellStore* view = nullptr;
  double last_shown_s = 0.0;
  // Reports come further apart than kRefreshS: the endpoint takes
  // snapshots of its own between them.
  bool refresh_between_reports = false;
};

std::unique_ptr<MetricsEndpoint> MetricsEndpoint::Start(const std::string& address,
                                                        std::string station, std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->publication = std::make_shared<Publication>(std::move(station));
  // prometheus-cpp reports a port it cannot bind by throwing; nothing of it
  // goes further than here.
  try {
    impl->exposer = std::make_unique<prometheus::Exposer>(ServerOptions(address));
    impl->exposer->RegisterCollectable(impl->publication);
  } catch (const std::exception& e) {
    *error = "cannot serve metrics on " + address + ": " + e.what();
    return nullptr;
  }
  if (impl->exposer->GetListeningPorts().empty()) {
    *error = "cannot serve metrics on " + address + ": no port is listening";
    return nullptr;
  }
  return std::unique_ptr<MetricsEndpoint>(new MetricsEndpoint(std::move(impl)));
}

MetricsEndpoint::MetricsEndpoint(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MetricsEndpoint::~MetricsEndpoint() = default;

int MetricsEndpoint::Port() const { return impl_->exposer->GetListeningPorts().front(); }

std::string MetricsEndpoint::Text() const {
  return prometheus::TextSerializer().Serialize(impl_->publication->Collect());
}

void MetricsEndpoint::BeginRun(const RunContext& context, const RunDescription& run,
                               std::time_t started_at, const RunSnapshot& first) {
  impl_->context = &context;
  impl_->view = nullptr;
  impl_->refresh_between_reports = false;
  impl_->publication->Clear();
  impl_->publication->Describe(run, started_at);
  impl_->publication->ShapeHistograms(first);
  impl_->publication->Show(first, false);
  impl_->last_shown_s = 0.0;
}

void MetricsEndpoint::RunStarted(const RunContext& context, const RunDescription& run,
                                 std::time_t started_at, const CellStore& view) {
  BeginRun(context, run, started_at, TakeTableSnapshot(context, view, 0.0));
  impl_->view = &view;
  impl_->refresh_between_reports = run.interval_s > kRefreshS;
}

void MetricsEndpoint::RunPolled(const std::vector<int>& opened, double elapsed_s) {
  if (impl_->context == nullptr) return;
  impl_->publication->SampleLive(impl_->context->run, opened);
  if (impl_->view == nullptr || !impl_->refresh_between_reports ||
      elapsed_s - impl_->last_shown_s < kRefreshS) {
    return;
  }
  impl_->publication->Show(TakeTableSnapshot(*impl_->context, *impl_->view, elapsed_s), false);
  impl_->last_shown_s = elapsed_s;
}

void MetricsEndpoint::RunInterval(const RunSnapshot& now, const RunSnapshot& before) {
  (void)before;
  impl_->publication->Show(now, false);
  impl_->last_shown_s = now.ElapsedSeconds;
}

void MetricsEndpoint::RunStopping(const RunSnapshot& final_figures) {
  impl_->publication->Show(final_figures, true);
}

void MetricsEndpoint::RunEnded(const RunOutcome& outcome) {
  impl_->view = nullptr;
  // A run that did not start shows what it came to; a started one showed
  // its final figures at the stop already, and Show keeps them.
  if (outcome.end_reason == EndReason::kNotStarted) {
    impl_->publication->Describe(outcome.run, std::time(nullptr));
    impl_->publication->Show(outcome.figures, true);
  }
}

}  // namespace quarnex
