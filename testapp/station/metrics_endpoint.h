// The station's Prometheus endpoint: `quarnex-run --metrics ADDR:PORT`
// serves GET /metrics in Prometheus's text format (prometheus-cpp's pull
// server), with the metrics of metrics_families.h.
//
// The endpoint serves only figures the runner took itself: the runner's
// main thread publishes a snapshot about once a second (at each report, or
// between reports when they are further apart) and the stop record's
// figures at the end, after which nothing changes. A scrape copies the last
// publication under a lock and never touches the ports, so it costs the run
// nothing, and counters only grow: the final values are the summary's.
//
// Thread-safety: the RunObserver methods run on the runner's main thread;
// scrapes run on the server's own thread. A mutex guards what both touch.
#ifndef QUARNEX_STATION_METRICS_ENDPOINT_H_
#define QUARNEX_STATION_METRICS_ENDPOINT_H_

#include <memory>
#include <string>

#include "testapp/station/run_observer.h"

namespace quarnex {

class MetricsEndpoint : public RunObserver {
 public:
  // Reports further apart than this, the endpoint takes a snapshot of its
  // own every kRefreshS between them.
  static constexpr double kRefreshS = 1.0;

  // Starts serving on `address` ("127.0.0.1:9464", "[::1]:9464"; port 0
  // takes a free port, see Port()). The series are labelled with
  // `station`. Returns null and sets *error (one line) when the address
  // cannot be bound.
  static std::unique_ptr<MetricsEndpoint> Start(const std::string& address, std::string station,
                                                std::string* error);
  // Stops serving; a scrape in progress finishes first.
  ~MetricsEndpoint() override;
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // The TCP port it listens on.
  int Port() const;

  // The text a scrape gets now (the endpoint's own metrics left out).
  std::string Text() const;

  // For a program that takes the run's snapshots itself (the window): a
  // new run of `context`, with its first figures, replacing what the
  // endpoint served before. RunPolled, RunInterval and RunStopping then
  // follow it as the runner calls them; the endpoint takes no snapshots of
  // its own. `context` must outlive the run (until RunEnded or the next
  // BeginRun).
  void BeginRun(const RunContext& context, const RunDescription& run, std::time_t started_at,
                const RunSnapshot& first);

  // RunObserver.
  void RunStarted(const RunContext& context, const RunDescription& run, std::time_t started_at,
                  const CellStore& view) override;
  void RunPolled(const std::vector<int>& opened, double elapsed_s) override;
  void RunInterval(const RunSnapshot& now, const RunSnapshot& before) override;
  void RunStopping(const RunSnapshot& final_figures) override;
  void RunEnded(const RunOutcome& outcome) override;

 private:
  struct Impl;
  explicit MetricsEndpoint(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

}  // namespace quarnex

#endif  // QUARNEX_STATION_METRICS_ENDPOINT_H_
