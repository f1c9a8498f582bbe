#include "testapp/ui/throughput_plot.h"

#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <set>
#include <span>

#include "testapp/engine/port_table.h"
#include "testapp/report/row_text.h"

namespace quarnex {
namespace {

// Line colours of the shown ports, by their place in the selection; red is
// kept for the error marks.
constexpr QRgb kPortColors[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0x9467bd, 0x8c564b,
                                0xe377c2, 0x17becf, 0xbcbd22, 0x393b79};
constexpr int kPortColorCount = static_cast<int>(sizeof(kPortColors) / sizeof(kPortColors[0]));

// Pixels.
constexpr double kPad = 4;
constexpr double kErrorStrip = 7;  // under the time axis, where errors are marked
constexpr double kSwatch = 14;     // a legend entry's line
constexpr double kMinXTickGap = 70;
constexpr double kMinYTickGap = 28;
constexpr double kAllPortsWidth = 3.0;  // as the legend shows it
constexpr double kErrorMarkWidth = 2.0;
constexpr double kLoneSquare = 3;
constexpr double kErrorSquare = 4;

// The value axis is rounded up to a tenth-step of its span, and never
// below these: a good line runs at 100 % and a clock's jitter takes it a
// little past, which must not rescale the axis; a rate axis needs some
// span.
constexpr int kYRoundingSteps = 10;
constexpr double kMinPercentAxis = 110.0;
constexpr double kMinRateAxis = 1.0;

constexpr double kSecondsPerMinute = 60;
constexpr double kSecondsPerHour = 3600;
// Up to these spans the time axis counts seconds, then minutes, then hours.
constexpr double kSecondsAxisUpTo = 5 * kSecondsPerMinute;
constexpr double kMinutesAxisUpTo = 5 * kSecondsPerHour;

// The smallest of 1, 2 and 5 times a power of ten that cuts `span` into at
// most `max_steps` steps.
double NiceStep(double span, double max_steps) {
  if (!(span > 0)) return 1;
  const double raw = span / std::max(1.0, max_steps);
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0}) {
    if (m * magnitude >= raw) return m * magnitude;
  }
  return 10 * magnitude;
}

// A number as tick labels show it: no trailing zeros. QString::number does
// not follow the locale.
QString TickNumber(double v) { return QString::number(v, 'g', 6); }

struct TimeUnit {
  double seconds;
  const char* suffix;
};

TimeUnit TimeUnitFor(double x_max) {
  if (x_max <= kSecondsAxisUpTo) return {1, " s"};
  if (x_max <= kMinutesAxisUpTo) return {kSecondsPerMinute, " min"};
  return {kSecondsPerHour, " h"};
}

// The value axis' label of `v` on an axis up to `y_max`: on a long rate
// axis every label counts thousands ("k") or millions ("M").
QString YLabel(double v, double y_max, PlotUnit unit) {
  if (unit == PlotUnit::kPercentOfLineRate) return TickNumber(v) + " %";
  if (y_max >= 1e7) return TickNumber(v / 1e6) + (v == 0 ? "" : "M");
  if (y_max >= 1e4) return TickNumber(v / 1e3) + (v == 0 ? "" : "k");
  return TickNumber(v);
}

// The value axis' grid step for a plot `height` pixels high.
double YTickStep(double y_max, double height) { return NiceStep(y_max, height / kMinYTickGap); }

// The highest value of `series`, 0 when it has none.
double HighestValue(const PlotSeries& series) {
  double high = 0;
  for (size_t i = 0; i < series.Size(); ++i) {
    const double v = series.Point(i).value;
    if (std::isfinite(v)) high = std::max(high, v);
  }
  return high;
}

}  // namespace

ThroughputPlot::ThroughputPlot(QWidget* parent) : QWidget(parent) {
  setObjectName("ThroughputPlot");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  timer_.setTimerType(Qt::CoarseTimer);
  connect(&timer_, &QTimer::timeout, this, &ThroughputPlot::TakeSample);
}

void ThroughputPlot::Reset(int first_port, int port_count, double expected_packet_ms,
                           double packets_per_judged) {
  timer_.stop();
  snapshot_ = nullptr;
  series_.Reset(first_port, port_count, expected_packet_ms, packets_per_judged);
  shown_.clear();
  update();
}

void ThroughputPlot::Sample(double seconds, const std::vector<PortCounters>& ports) {
  series_.Sample(seconds, ports);
  update();
}

void ThroughputPlot::Follow(Snapshot snapshot, int interval_ms) {
  snapshot_ = std::move(snapshot);
  clock_.start();
  timer_.start(std::max(1, interval_ms));
}

void ThroughputPlot::StopFollowing() {
  if (!timer_.isActive()) return;
  TakeSample();
  timer_.stop();
  snapshot_ = nullptr;
}

void ThroughputPlot::TakeSample() {
  if (snapshot_) Sample(static_cast<double>(clock_.nsecsElapsed()) / 1e9, snapshot_());
}

void ThroughputPlot::SetSelectedSlots(const std::vector<int>& wanted) {
  std::vector<int> shown;
  std::set<int> seen;
  for (const int slot : wanted) {
    if (static_cast<int>(shown.size()) == kMaxShownPorts) break;
    if (slot < 0 || slot >= series_.PortCount() || !seen.insert(slot).second) continue;
    shown.push_back(slot);
  }
  if (shown == shown_) return;
  shown_ = std::move(shown);
  update();
}

double ThroughputPlot::XMaxSeconds() const {
  return std::max(kMinTimeSpanSeconds, series_.LastSeconds());
}

double ThroughputPlot::YMax() const {
  double high = HighestValue(series_.AllPorts());
  for (const int slot : shown_) high = std::max(high, HighestValue(series_.Port(slot)));
  const bool percent = series_.Unit() == PlotUnit::kPercentOfLineRate;
  high = std::max(high, percent ? kMinPercentAxis : kMinRateAxis);
  const double step = NiceStep(high, kYRoundingSteps);
  return std::ceil(high / step) * step;
}

QString ThroughputPlot::UnitText() const {
  return series_.Unit() == PlotUnit::kPercentOfLineRate ? "% of line rate" : "good packets/s";
}

QColor ThroughputPlot::SlotColor(int slot) const {
  const auto it = std::find(shown_.begin(), shown_.end(), slot);
  if (it == shown_.end()) return QColor();
  return QColor(kPortColors[(it - shown_.begin()) % kPortColorCount]);
}

QColor ThroughputPlot::AllPortsColor() { return QColor(120, 120, 120); }
QColor ThroughputPlot::ErrorColor() { return QColor(214, 39, 40); }

QSize ThroughputPlot::sizeHint() const { return QSize(860, 220); }
QSize ThroughputPlot::minimumSizeHint() const { return QSize(240, 120); }

QRectF ThroughputPlot::PlotArea() const {
  const QFontMetricsF fm(font());
  // The legend's row, and room for half the top label under it.
  const double top = 1.5 * fm.height() + 2 * kPad;
  // Half a time label sticks out past the axis' end.
  const double right = fm.horizontalAdvance("0000 min") / 2 + kPad;
  const double bottom = kErrorStrip + fm.height() + kPad;
  const double plot_height = std::max(1.0, height() - top - bottom);
  // Room for the widest value label.
  const double y_max = YMax();
  const double step = YTickStep(y_max, plot_height);
  double label_width = 0;
  for (double v = 0; v <= y_max * (1 + 1e-9); v += step) {
    label_width = std::max(label_width, fm.horizontalAdvance(YLabel(v, y_max, series_.Unit())));
  }
  const double left = label_width + 2 * kPad;
  return QRectF(left, top, std::max(1.0, width() - left - right), plot_height);
}

void ThroughputPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const QRectF area = PlotArea();
  const double x_max = XMaxSeconds();
  const double y_max = YMax();
  PaintAxes(p, area, x_max, y_max);
  PaintLegend(p, area);
  if (series_.PortCount() == 0) {
    p.setPen(palette().color(QPalette::PlaceholderText));
    p.drawText(area, Qt::AlignCenter, "The throughput of a run shows here once it starts");
    return;
  }
  p.save();
  p.setClipRect(area.adjusted(-kAllPortsWidth, -kAllPortsWidth, kAllPortsWidth, 0));
  // The shown ports over all ports: a port that runs with the others still
  // shows, on a wider grey line.
  PaintSeries(p, area, series_.AllPorts(), AllPortsColor(), /*wide=*/true, x_max, y_max);
  for (const int slot : shown_) {
    PaintSeries(p, area, series_.Port(slot), SlotColor(slot), /*wide=*/false, x_max, y_max);
  }
  p.restore();
  PaintErrorMarks(p, area, x_max);
}

void ThroughputPlot::PaintAxes(QPainter& p, const QRectF& area, double x_max, double y_max) const {
  const QFontMetricsF fm(font());
  const QColor grid = palette().color(QPalette::Midlight);
  const QColor text = palette().color(QPalette::Text);

  const double y_step = YTickStep(y_max, area.height());
  for (double v = 0; v <= y_max * (1 + 1e-9); v += y_step) {
    const double y = area.bottom() - v / y_max * area.height();
    p.setPen(grid);
    p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    p.setPen(text);
    const QRectF label(0, y - fm.height() / 2, area.left() - kPad, fm.height());
    p.drawText(label, Qt::AlignRight | Qt::AlignVCenter, YLabel(v, y_max, series_.Unit()));
  }

  const TimeUnit unit = TimeUnitFor(x_max);
  const double x_step = NiceStep(x_max / unit.seconds, area.width() / kMinXTickGap);
  const double label_top = area.bottom() + kErrorStrip;
  for (double t = 0; t * unit.seconds <= x_max * (1 + 1e-9); t += x_step) {
    const double x = area.left() + t * unit.seconds / x_max * area.width();
    p.setPen(grid);
    p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    p.setPen(text);
    const QString label = TickNumber(t) + unit.suffix;
    const double w = fm.horizontalAdvance(label);
    p.drawText(QRectF(x - w / 2, label_top, w + 1, fm.height()), Qt::AlignCenter, label);
  }

  p.setPen(palette().color(QPalette::Mid));
  p.drawLine(area.bottomLeft(), area.bottomRight());
  p.drawLine(area.bottomLeft(), area.topLeft());
}

void ThroughputPlot::PaintLegend(QPainter& p, const QRectF& area) const {
  const QFontMetricsF fm(font());
  const double mid = kPad + fm.height() / 2;
  double x = area.left();
  p.setPen(palette().color(QPalette::Text));
  const QString title = "Throughput, " + UnitText();
  p.drawText(QPointF(x, kPad + fm.ascent()), title);
  x += fm.horizontalAdvance(title) + 3 * kPad;

  // Entries: all ports, the shown ports, the error mark. Those that do not
  // fit are counted instead.
  struct Entry {
    QString name;
    QColor color;
    double width;
    bool error;
  };
  std::vector<Entry> entries;
  entries.push_back({"All ports (mean)", AllPortsColor(), kAllPortsWidth, false});
  for (const int slot : shown_) {
    entries.push_back(
        {QString::fromStdString(PortLabel(series_.FirstPort() + slot)), SlotColor(slot), 1, false});
  }
  entries.push_back({"errors", ErrorColor(), kErrorMarkWidth, true});
  const double right = width() - kPad;
  const double more_width = fm.horizontalAdvance("+000 more");
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const double w = kSwatch + kPad + fm.horizontalAdvance(e.name) + 3 * kPad;
    const bool last = i + 1 == entries.size();
    if (x + w > right - (last ? 0 : more_width)) {
      p.setPen(palette().color(QPalette::Text));
      p.drawText(QPointF(x, kPad + fm.ascent()),
                 QString("+%1 more").arg(static_cast<qsizetype>(entries.size() - i)));
      break;
    }
    p.setPen(QPen(e.color, e.width, Qt::SolidLine, Qt::FlatCap));
    if (e.error) {
      p.drawLine(QPointF(x + kSwatch / 2, mid - kErrorStrip / 2),
                 QPointF(x + kSwatch / 2, mid + kErrorStrip / 2));
    } else {
      p.drawLine(QPointF(x, mid), QPointF(x + kSwatch, mid));
    }
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QPointF(x + kSwatch + kPad, kPad + fm.ascent()), e.name);
    x += w;
  }
}

void ThroughputPlot::PaintSeries(QPainter& p, const QRectF& area, const PlotSeries& series,
                                 const QColor& color, bool wide, double x_max, double y_max) const {
  // On the middle of a pixel, so a flat stretch is one crisp pixel high.
  auto at = [&](const PlotPoint& point) {
    return QPointF(std::floor(area.left() + point.seconds / x_max * area.width()) + 0.5,
                   std::floor(area.bottom() - point.value / y_max * area.height()) + 0.5);
  };
  // A sample without a figure breaks the line; a lone point shows as a
  // small square.
  std::vector<QPolygonF> runs(1);
  QList<QRectF> squares;
  auto square = [](const QPointF& c, double side) {
    return QRectF(c.x() - side / 2, c.y() - side / 2, side, side);
  };
  for (size_t i = 0; i < series.Size(); ++i) {
    const PlotPoint point = series.Point(i);
    if (!std::isnan(point.value)) {
      runs.back().append(at(point));
    } else if (!runs.back().isEmpty()) {
      runs.emplace_back();
    }
  }
  for (const QPolygonF& run : runs) {
    if (run.size() == 1) squares.append(square(run.front(), kLoneSquare));
  }
  // Only one-pixel lines without antialiasing: Qt draws them on a fast
  // path, while a wider pen over a port that swings between nothing and
  // its full rate from one sample to the next takes hundreds of
  // milliseconds. A wide line is five of them, a pixel apart.
  QPen pen(color, 1);
  pen.setCosmetic(true);
  p.setPen(pen);
  const QPointF kOffsets[] = {{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  for (const QPointF& offset : wide ? std::span(kOffsets) : std::span(kOffsets, 1)) {
    p.translate(offset);
    for (const QPolygonF& run : runs) {
      if (run.size() > 1) p.drawPolyline(run);
    }
    p.translate(-offset);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawRects(squares);
  // A shown port's errors: a red square on its line.
  if (&series != &series_.AllPorts()) {
    squares.clear();
    for (size_t i = 0; i < series.Size(); ++i) {
      PlotPoint point = series.Point(i);
      if (point.errors <= 0) continue;
      if (std::isnan(point.value)) point.value = 0;
      squares.append(square(at(point), kErrorSquare));
    }
    p.setBrush(ErrorColor());
    p.drawRects(squares);
  }
  p.setBrush(Qt::NoBrush);
}

void ThroughputPlot::PaintErrorMarks(QPainter& p, const QRectF& area, double x_max) const {
  // Every port's errors, under the time axis.
  const PlotSeries& all = series_.AllPorts();
  p.setPen(QPen(ErrorColor(), kErrorMarkWidth, Qt::SolidLine, Qt::FlatCap));
  for (size_t i = 0; i < all.Size(); ++i) {
    const PlotPoint point = all.Point(i);
    if (point.errors <= 0) continue;
    const double x = area.left() + point.seconds / x_max * area.width();
    p.drawLine(QPointF(x, area.bottom() + 1), QPointF(x, area.bottom() + kErrorStrip));
  }
}

std::vector<int> SelectedSlots(const RunContext& context, const QItemSelectionModel& selection) {
  std::set<int> rows;
  for (const QModelIndex& index : selection.selectedIndexes()) rows.insert(index.row());
  std::vector<int> wanted;
  for (const int row : rows) {
    for (int i = 0; i < context.SlotsInRange(); ++i) {
      if (context.run.Ports[static_cast<size_t>(i)].Row == row) {
        wanted.push_back(i);
        break;
      }
    }
  }
  return wanted;
}

}  // namespace quarnex
