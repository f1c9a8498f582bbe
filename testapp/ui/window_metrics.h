// WindowMetrics: the window's Prometheus endpoint. With "Serve metrics" on
// (Settings > Options), a run serves GET /metrics at the setting's address
// with the metrics quarnex-run --metrics serves, made by the same code
// (testapp/station/metrics_endpoint.h, metrics_families.h) from the same
// snapshots: the good packets' times about every 20 ms, the figures once a
// second, and at Stop the figures with the stop record's counters, which
// stay served until the next Start. The station label is the host name.
//
// The endpoint opens at the first Start with the setting on and is kept for
// the next runs while the address stays the same; it closes when the
// setting is turned off, at a Start with it off, and with the window.
//
// The user-interface thread only; scrapes are answered on the endpoint's
// own thread and never reach the ports or the window.
#ifndef QUARNEX_UI_WINDOW_METRICS_H_
#define QUARNEX_UI_WINDOW_METRICS_H_

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/report/log_file.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/ui/metrics_setting.h"

namespace quarnex {

class MetricsEndpoint;

class WindowMetrics : public QObject {
  Q_OBJECT

 public:
  // How often the packet times are sampled, and the figures published.
  static constexpr int kPollMs = 20;
  static constexpr double kPublishS = 1.0;

  // `rows` gives the notes of the results table's rows (RowNotesOf); the
  // runs are those of `context`, which must outlive the object.
  WindowMetrics(const RunContext& context, std::function<std::vector<RowNotes>()> rows,
                QObject* parent = nullptr);
  ~WindowMetrics() override;

  // True where the programs were built with prometheus-cpp.
  static bool Available();

  // At Start, once the ports are open and their rows made. With `setting`
  // on, serves this run (opening the endpoint, or reopening it at a new
  // address); off, closes it. False, with one line in *error, when the
  // address cannot be bound (or serving is not built in): the run goes on
  // without an endpoint.
  bool RunStarted(const MetricsSetting& setting, std::string* error);
  // At Stop, after the stop record: the final figures, its counters.
  void RunStopped(const std::vector<PortCounters>& stop_counters);
  // Stops serving.
  void Close();

  // The TCP port served (the one taken for port 0); 0 when none.
  int Port() const;

 private:
  void Poll();
  RunSnapshot Figures() const;

  const RunContext& context_;
  std::function<std::vector<RowNotes>()> rows_;
  std::unique_ptr<MetricsEndpoint> endpoint_;
  std::string address_;  // of endpoint_
  QTimer poll_;
  QElapsedTimer elapsed_;
  std::vector<int> opened_;  // the slots opened at Start
  RunSnapshot published_;    // the last figures shown
};

}  // namespace quarnex

#endif  // QUARNEX_UI_WINDOW_METRICS_H_
