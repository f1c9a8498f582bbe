// ThroughputPlot: a live plot of a run under or beside the results table.
//
// It shows, over the run, the throughput of all ports together and of the
// ports selected in the table, in percent of the line rate (or good packets
// per second when quarnex.cfg has no BitRate), and marks on the time axis
// where errors were counted. The figures come from RunSeries
// (plot_series.h), fed with snapshots of the engine's counters.
//
// The widget paints itself with QPainter and needs nothing beyond Qt
// Widgets: measured on this machine, a chart library took several times as
// long to draw the same series. Every line is drawn one pixel wide and
// without antialiasing (a wide line as five of them), which Qt draws on a
// fast path: with a wider pen, a port that swings between nothing and its
// full rate from one sample to the next took seconds to paint. It repaints
// only when a sample arrives, the selection changes or it is resized, so
// its cost does not grow with the rate of the lines.
//
// Everything here runs on the user-interface thread. Sampling reads the
// counters' atomics and never makes a worker wait.
#ifndef QUARNEX_UI_THROUGHPUT_PLOT_H_
#define QUARNEX_UI_THROUGHPUT_PLOT_H_

#include <QColor>
#include <QElapsedTimer>
#include <QRectF>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/report/port_counters.h"
#include "testapp/ui/plot_series.h"

class QItemSelectionModel;
class QPainter;

namespace quarnex {

class ThroughputPlot : public QWidget {
  Q_OBJECT

 public:
  // How often Follow samples the counters.
  static constexpr int kSampleIntervalMs = 500;
  // The ports drawn besides "All ports" at most; a larger selection shows
  // its first ports (more lines than that cannot be told apart).
  static constexpr int kMaxShownPorts = 16;
  // The time axis spans at least this much, so a young run fills the plot
  // from the left instead of stretching a few samples over its width.
  static constexpr double kMinTimeSpanSeconds = 60.0;

  // A snapshot of the counters of the ports open now (SnapshotOpenPorts).
  using Snapshot = std::function<std::vector<PortCounters>()>;

  explicit ThroughputPlot(QWidget* parent = nullptr);

  // At Start, once the ports are open: forgets the previous run and its
  // selection; see RunSeries::Reset for the arguments.
  void Reset(int first_port, int port_count, double expected_packet_ms, double packets_per_judged);
  // Adds a snapshot taken `seconds` after Start and repaints.
  void Sample(double seconds, const std::vector<PortCounters>& ports);

  // Samples `snapshot` every kSampleIntervalMs (or `interval_ms`), timed
  // from this call, until StopFollowing. Call right after Reset.
  void Follow(Snapshot snapshot, int interval_ms = kSampleIntervalMs);
  // Takes one last sample and stops the timer. Call at Stop while the ports
  // are still open (before StopRun), as for the log's stop record; nothing
  // happens when not following.
  void StopFollowing();
  bool Following() const { return timer_.isActive(); }

  // The slots whose series are drawn besides "All ports", in this order.
  // Slots outside the run are dropped, repeats kept once, and at most
  // kMaxShownPorts are kept.
  void SetSelectedSlots(const std::vector<int>& wanted);
  const std::vector<int>& ShownSlots() const { return shown_; }

  const RunSeries& Series() const { return series_; }
  // The axes as the next paint draws them: time from 0 to XMaxSeconds(),
  // values from 0 to YMax().
  double XMaxSeconds() const;
  double YMax() const;
  // "% of line rate" or "good packets/s".
  QString UnitText() const;
  // The colour of a shown slot's line, and of "All ports".
  QColor SlotColor(int slot) const;
  static QColor AllPortsColor();
  static QColor ErrorColor();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void TakeSample();
  // The parts of the widget: the legend row, the plot area, the error strip
  // and the time labels under it.
  QRectF PlotArea() const;
  void PaintLegend(QPainter& p, const QRectF& area) const;
  void PaintAxes(QPainter& p, const QRectF& area, double x_max, double y_max) const;
  // `wide`: a line three pixels wide instead of one.
  void PaintSeries(QPainter& p, const QRectF& area, const PlotSeries& series, const QColor& color,
                   bool wide, double x_max, double y_max) const;
  void PaintErrorMarks(QPainter& p, const QRectF& area, double x_max) const;

  RunSeries series_;
  std::vector<int> shown_;
  Snapshot snapshot_;
  QTimer timer_;
  QElapsedTimer clock_;
};

// The run's slots of the rows selected in `selection`, in row order: what
// SetSelectedSlots takes when the table's selection changes. A row that is
// no port's (none opened for it) adds nothing. The slots are those of the
// run of `context`.
std::vector<int> SelectedSlots(const RunContext& context, const QItemSelectionModel& selection);

}  // namespace quarnex

#endif  // QUARNEX_UI_THROUGHPUT_PLOT_H_
