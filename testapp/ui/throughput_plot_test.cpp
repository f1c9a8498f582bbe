// ThroughputPlot: samples become the series it draws, its axes follow the
// data and the selection, its own timer samples until told to stop, and a
// grab shows the lines and the error marks.
#include "testapp/ui/throughput_plot.h"

#include <QDir>
#include <QImage>
#include <QStandardItemModel>
#include <QtTest>
#include <cmath>
#include <memory>
#include <vector>

#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

constexpr int kFirstPort = 3;
constexpr double kExpectedMs = 10.0;

// A port that judged `good` good packets at `packet_ms` each and `errors`
// bad ones.
PortCounters Port(int slot, int64_t good, double packet_ms, int64_t errors = 0) {
  PortCounters c;
  c.PortNumber = kFirstPort + slot;
  c.PacketCount = good + errors;
  c.GoodPacketCount = good;
  c.ErrorCount = errors;
  c.TotalPacketTime = static_cast<double>(good) * packet_ms;
  return c;
}

// Pixels of `image` within a small distance of `color`.
int PixelsOf(const QImage& image, const QColor& color) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - color.red()) + std::abs(c.green() - color.green()) +
              std::abs(c.blue() - color.blue()) <
          30) {
        ++n;
      }
    }
  }
  return n;
}

}  // namespace

class ThroughputPlotTest : public QObject {
  Q_OBJECT

 private slots:
  void SamplesBecomeTheSeriesAndTheAxesFollow() {
    ThroughputPlot plot;
    plot.Reset(kFirstPort, 3, kExpectedMs, 1);
    QCOMPARE(plot.UnitText(), QString("% of line rate"));
    // Slot 0 at the line rate, slot 1 at 160 %, slot 2 at 50 %, for a
    // minute and a half.
    for (int i = 1; i <= 180; ++i) {
      plot.Sample(0.5 * i, {Port(0, 50 * i, 10.0), Port(1, 80 * i, 6.25), Port(2, 25 * i, 20.0)});
      if (i == 60) {
        // Before the minimum span has passed the time axis keeps it.
        QCOMPARE(plot.XMaxSeconds(), ThroughputPlot::kMinTimeSpanSeconds);
      }
    }
    QCOMPARE(plot.Series().AllPorts().Size(), size_t{180});
    QCOMPARE(plot.Series().Port(1).Point(179).seconds, 90.0);
    QCOMPARE(plot.Series().Port(1).Point(179).value, 160.0);
    QCOMPARE(plot.Series().AllPorts().Point(179).value, (100.0 + 160.0 + 50.0) / 3);
    QCOMPARE(plot.XMaxSeconds(), 90.0);

    // The value axis covers what is drawn, rounded up by less than a
    // quarter, and leaves room above the line rate.
    auto covers = [&plot](double high) {
      return plot.YMax() >= std::max(high, 110.0) && plot.YMax() < std::max(high, 110.0) * 1.25;
    };
    const double all_ports = 310.0 / 3;
    QVERIFY2(covers(all_ports), qPrintable(QString::number(plot.YMax())));
    plot.SetSelectedSlots({1});
    QVERIFY2(covers(160.0), qPrintable(QString::number(plot.YMax())));
    // Deselected, the fast port no longer stretches the axis.
    plot.SetSelectedSlots({2});
    QVERIFY2(covers(all_ports) && plot.YMax() < 160.0, qPrintable(QString::number(plot.YMax())));

    // A run without a bit rate: good packets per second, from a small span
    // up.
    plot.Reset(kFirstPort, 1, 0.0, 1);
    QCOMPARE(plot.UnitText(), QString("good packets/s"));
    QVERIFY(plot.ShownSlots().empty());
    QCOMPARE(plot.XMaxSeconds(), ThroughputPlot::kMinTimeSpanSeconds);
    plot.Sample(0.5, {Port(0, 0, 0.0)});
    QVERIFY(plot.YMax() > 0 && plot.YMax() <= 1.0);
    plot.Sample(1.0, {Port(0, 12345, 0.0)});
    QCOMPARE(plot.Series().AllPorts().Point(1).value, 24690.0);
    QVERIFY2(plot.YMax() >= 24690.0 && plot.YMax() < 24690.0 * 1.25,
             qPrintable(QString::number(plot.YMax())));
  }

  void SelectionKeepsTheRunsSlotsOnceAndAtMostTheShownLimit() {
    ThroughputPlot plot;
    plot.Reset(kFirstPort, 40, kExpectedMs, 1);
    plot.SetSelectedSlots({2, 1, 2, 40, -1, 0});
    QCOMPARE(plot.ShownSlots(), (std::vector<int>{2, 1, 0}));
    QVERIFY(plot.SlotColor(2).isValid());
    QVERIFY(plot.SlotColor(2) != plot.SlotColor(1));
    QVERIFY(!plot.SlotColor(5).isValid());
    std::vector<int> all;
    for (int i = 0; i < 40; ++i) all.push_back(i);
    plot.SetSelectedSlots(all);
    QCOMPARE(static_cast<int>(plot.ShownSlots().size()), ThroughputPlot::kMaxShownPorts);
    QCOMPARE(plot.ShownSlots().front(), 0);
    plot.Reset(kFirstPort, 40, kExpectedMs, 1);
    QVERIFY(plot.ShownSlots().empty());
  }

  void SelectedRowsMapToTheSlotsThatOpened() {
    const auto context = std::make_unique<RunContext>();
    context->settings.Test.PortCount = 4;
    // Slot 1 did not open: it has no row.
    const int rows[] = {0, -1, 1, 2};
    for (int i = 0; i < 4; ++i) context->run.Ports[static_cast<size_t>(i)].Row = rows[i];
    QStandardItemModel model(3, 2);
    QItemSelectionModel selection(&model);
    selection.select(model.index(2, 1), QItemSelectionModel::Select);
    selection.select(model.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(SelectedSlots(*context, selection), (std::vector<int>{2, 3}));
    selection.clearSelection();
    QVERIFY(SelectedSlots(*context, selection).empty());
  }

  void FollowSamplesOnItsTimerUntilStopped() {
    ThroughputPlot plot;
    plot.Reset(kFirstPort, 1, kExpectedMs, 1);
    int snapshots = 0;
    plot.Follow(
        [&snapshots] {
          ++snapshots;
          return std::vector<PortCounters>{Port(0, 10 * snapshots, 10.0)};
        },
        10);
    QVERIFY(plot.Following());
    QTRY_VERIFY(plot.Series().AllPorts().Size() >= 3);
    const double last = plot.Series().LastSeconds();
    QVERIFY(last > 0 && last < 60);
    QCOMPARE(plot.Series().AllPorts().Point(0).value, 100.0);

    const int before = snapshots;
    plot.StopFollowing();
    QVERIFY(!plot.Following());
    QCOMPARE(snapshots, before + 1);  // the last sample, taken at the stop
    QTest::qWait(50);
    QCOMPARE(snapshots, before + 1);
    plot.StopFollowing();
    QCOMPARE(snapshots, before + 1);
    QCOMPARE(plot.Series().AllPorts().Size(), static_cast<size_t>(snapshots));
  }

  void GrabShowsTheLinesAndTheErrorMarks() {
    // Four ports for two minutes: slot 1 slows down after a minute, slot 2
    // counts errors at 20 s and 80 s, slot 3 fails every packet after 100 s.
    auto feed = [](ThroughputPlot& plot, bool errors) {
      plot.Reset(kFirstPort, 4, kExpectedMs, 1);
      std::vector<PortCounters> ports(4);
      for (int i = 1; i <= 240; ++i) {
        const double t = 0.5 * i;
        ports[0] = Port(0, 50 * i, 10.0);
        ports[1] = Port(1, 49 * i, 0.0);
        ports[1].TotalPacketTime = 49 * std::min(i, 120) * 11.0 + 49 * std::max(0, i - 120) * 13.0;
        ports[2] = Port(2, 48 * i, 12.0, errors ? (t >= 20) + (t >= 80) * 2 : 0);
        ports[3] = Port(3, 50 * std::min(i, 200), 10.0, errors ? 5 * std::max(0, i - 200) : 0);
        plot.Sample(t, ports);
      }
      plot.SetSelectedSlots({1, 2});
    };
    ThroughputPlot plot;
    plot.resize(720, 240);
    feed(plot, true);
    const QImage image = plot.grab().toImage();
    const QString dir = qEnvironmentVariable("QUARNEX_SCREENSHOT_DIR", QDir::tempPath());
    QVERIFY(image.save(QDir(dir).filePath("throughput_plot.png")));
    ThroughputPlot clean;
    clean.resize(720, 240);
    feed(clean, false);
    const QImage clean_image = clean.grab().toImage();

    // The lines of all ports and of both shown ports are on the picture,
    // and the errors add red: marks under the time axis and dots on slot
    // 2's line.
    QVERIFY(PixelsOf(image, ThroughputPlot::AllPortsColor()) > 200);
    QVERIFY(PixelsOf(image, plot.SlotColor(1)) > 200);
    QVERIFY(PixelsOf(image, plot.SlotColor(2)) > 200);
    const int red = PixelsOf(image, ThroughputPlot::ErrorColor());
    const int clean_red = PixelsOf(clean_image, ThroughputPlot::ErrorColor());
    QVERIFY2(red > clean_red + 40, qPrintable(QString("%1 against %2").arg(red).arg(clean_red)));
  }
};

}  // namespace quarnex

QTEST_MAIN(quarnex::ThroughputPlotTest)
#include "throughput_plot_test.moc"
