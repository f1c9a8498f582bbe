// The window's view of a run at a glance, on the simulated adapter with a
// corrupting port: row colours by verdict, tooltips with the port's
// details, the total row, the run's summary in the status bar, and rows
// that equal the log's stop record after Stop.
//
// QUARNEX_SIM is read once per process, when the adapter is first used, so
// this binary sets it before any window opens.
#include <QApplication>
#include <QBrush>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/log_file.h"
#include "testapp/settings/memory_store.h"
#include "testapp/settings/settings_state.h"
#include "testapp/ui/main_window.h"
#include "testapp/ui/window_test_sandbox.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {
namespace {

constexpr char kConfig[] = "RxCharacterSize=3\nTxCharacterSize=3\nParity=0\nBitRate=115200\n";
constexpr int kPorts = 4;
constexpr int kCorruptingRow = 1;  // port 2

struct LoggedPort {
  qint64 packets = -1;
  qint64 errors = -1;
};

// The packets and errors of each port of the log's last stop record.
std::map<int, LoggedPort> LastStopRecord() {
  QFile file(kLogFileName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QString log = QString::fromLatin1(file.readAll());
  const qsizetype stop = log.lastIndexOf(">>> TEST STOP");
  const qsizetype start = log.lastIndexOf(">>> TEST START", stop);
  if (stop < 0 || start < 0) return {};
  static const QRegularExpression kBlock(
      "\\[COM(\\d+)\\]\\r\\nNumber of packets: (\\d+)\\r\\n(?:Packet time \\(ms\\):  \\d+\\r\\n)?"
      "Number of Errors:  (\\d+)\\r\\n");
  std::map<int, LoggedPort> ports;
  for (const QRegularExpressionMatch& m : kBlock.globalMatch(log.mid(start, stop - start))) {
    ports[m.captured(1).toInt()] = {m.captured(2).toLongLong(), m.captured(3).toLongLong()};
  }
  return ports;
}

QColor Background(const ResultsModel& model, int row) {
  return model.data(model.index(row, kColumnPackets), Qt::BackgroundRole).value<QBrush>().color();
}

bool HasBackground(const ResultsModel& model, int row) {
  return model.data(model.index(row, kColumnPackets), Qt::BackgroundRole).isValid();
}

qint64 Cell(const ResultsModel& model, int row, int column) {
  return QString::fromStdString(model.Text(row, column)).toLongLong();
}

}  // namespace

class RunMonitorTest : public QObject {
  Q_OBJECT

 private:
  WindowTestSandbox sandbox_;
  MemoryStore* store_ = nullptr;
  std::unique_ptr<MainWindow> window_;
  // Each test's own run context, made before its window and gone after it
  // (on the heap: RunState holds 128 slots).
  std::unique_ptr<RunContext> context_;

  RunContext& Context() { return *context_; }

  MainWindow& Open() {
    window_ = OpenMainWindow(Context(), *store_);
    Settings& s = Context().settings;
    s.Test.PortCount = kPorts;
    s.PacketSize = 256;
    return *window_;
  }

  // Every row's verdict is known, port 2 failed and the others `others`.
  static bool Judged(const ResultsModel& model, PortRunVerdict others) {
    for (int row = 0; row < kPorts; ++row) {
      const auto verdict = model.RowVerdict(row);
      const PortRunVerdict expected = row == kCorruptingRow ? PortRunVerdict::kFailed : others;
      if (!verdict || *verdict != expected) return false;
    }
    return true;
  }

 private slots:
  void initTestCase() { qputenv("QUARNEX_SIM", "ports=1-8;fault.corrupt=0.2;fault.ports=2"); }

  void init() {
    QVERIFY(sandbox_.Enter(kConfig));
    store_ = &sandbox_.Store();
    context_ = std::make_unique<RunContext>();
    context_->devices.SetBackends(StandardBackends());
  }

  void cleanup() {
    window_.reset();
    context_.reset();
    sandbox_.Leave();
  }

  void RowsShowTheVerdictTheDetailsAndTheTotalsAndMatchTheLogAfterStop() {
    MainWindow& w = Open();
    const ResultsModel& model = w.Model();
    w.Action(kIdStart)->trigger();
    QVERIFY(w.RunActive());
    QTRY_VERIFY_WITH_TIMEOUT(Judged(model, PortRunVerdict::kPassing), 20000);

    // Colours a person tells apart: the failing port's differs from the
    // passing ones', which agree.
    for (int row = 0; row < kPorts; ++row) {
      const PortRunVerdict verdict =
          row == kCorruptingRow ? PortRunVerdict::kFailed : PortRunVerdict::kPassing;
      QCOMPARE(Background(model, row), VerdictColor(verdict));
    }
    QVERIFY(Background(model, 0) != Background(model, kCorruptingRow));
    QCOMPARE(model.data(model.index(0, 0), Qt::ForegroundRole).value<QBrush>().color(),
             QColor(Qt::black));
    // The cells keep their texts.
    QCOMPARE(model.Text(0, kColumnPort), std::string("Quarnex01"));

    // The tooltip names the six causes, the line errors by kind, the
    // timeouts and where the first mismatch was.
    const QString tip =
        model.data(model.index(kCorruptingRow, kColumnPort), Qt::ToolTipRole).toString();
    for (const char* part :
         {"Quarnex02: failed", "Write failed: 0", "Write aborted: 0",
          "Read failed: ", "Read aborted: 0", "Length mismatch: 0", "Data mismatch: ",
          "Line errors: break 0, "
          "framing 0, overrun 0, receive overflow 0, parity 0, transmit full 0",
          "Timeouts: read 0, write 0", "First mismatch: packet "}) {
      QVERIFY2(tip.contains(part), qPrintable(part + QString(" in:\n") + tip));
    }
    QVERIFY2(!tip.contains("Data mismatch: 0"), qPrintable(tip));
    const QString good_tip = model.data(model.index(0, kColumnStatus), Qt::ToolTipRole).toString();
    QVERIFY2(good_tip.startsWith("Success\n\nQuarnex01: passing"), qPrintable(good_tip));
    QVERIFY2(good_tip.contains("First mismatch: none"), qPrintable(good_tip));

    // The status bar: its two parts as ever, the run's summary beside them.
    QCOMPARE(w.Status().PartText(0), QString("Running"));
    QCOMPARE(w.Status().PartWidth(0), w.width() / 2);
    QTRY_VERIFY(w.Status().RunSummary().contains("1 port failing, 3 passing"));
    QVERIFY(w.Status().RunSummary().startsWith("Elapsed 0:00:"));
    QCOMPARE(w.Status().RunSummaryColor(), VerdictColor(PortRunVerdict::kFailed));
    QVERIFY(w.Table().Totals().isVisible());
    QCOMPARE(w.Table().Totals().Text(kColumnPort), QString("Total"));

    w.Action(kIdStop)->trigger();
    const std::map<int, LoggedPort> logged = LastStopRecord();
    QCOMPARE(int(logged.size()), kPorts);
    // Workers may judge one more packet after Stop; the rows must not
    // follow them past the record.
    for (int wait : {0, 400}) {
      QTest::qWait(wait);
      qint64 packets = 0;
      qint64 errors = 0;
      for (int row = 0; row < kPorts; ++row) {
        const LoggedPort& port = logged.at(row + 1);
        QCOMPARE(Cell(model, row, kColumnPackets), port.packets);
        QCOMPARE(Cell(model, row, kColumnErrors), port.errors);
        packets += port.packets;
        errors += port.errors;
      }
      QVERIFY(logged.at(kCorruptingRow + 1).errors > 0);
      // The total row sums the rows.
      QCOMPARE(w.Table().Totals().Text(kColumnPackets).toLongLong(), packets);
      QCOMPARE(w.Table().Totals().Text(kColumnErrors).toLongLong(), errors);
      QCOMPARE(w.Table().Totals().Text(kColumnStatus), QString("4 ports, 4 open"));
      QVERIFY(Judged(model, PortRunVerdict::kPassing));
    }
    // The summary stops with the run.
    const QString summary = w.Status().RunSummary();
    QTest::qWait(1100);
    QCOMPARE(w.Status().RunSummary(), summary);
    QCOMPARE(w.Status().PartText(0), QString("Stopped"));
  }

  // A Stop right after a corrupted packet was counted, while the next
  // packet is already on its way: every row, and the saved CSV and JSON,
  // name the cause the counters hold ("Data mismatch", never the "Write
  // failed" of a write the Stop cut short) with the time "N.A.", or
  // "Success" with times.
  void AfterStopTheStatusIsTheOneTheCountersHold() {
    MainWindow& w = Open();
    const ResultsModel& model = w.Model();
    for (int cycle = 0; cycle < 3; ++cycle) {
      w.Action(kIdStart)->trigger();
      const std::atomic<int64_t>& errors = Context().run.Ports[kCorruptingRow].ErrorCount;
      QTRY_VERIFY_WITH_TIMEOUT(errors.load() > 0, 20000);
      // The moment the next error is counted: its port releases the next
      // packet at once, whose results start empty.
      const int64_t before = errors.load();
      QElapsedTimer waited;
      waited.start();
      while (errors.load() == before && waited.elapsed() < 20000) std::this_thread::yield();
      w.Action(kIdStop)->trigger();
      JoinAllPorts(Context());

      QString error;
      QVERIFY2(w.SaveResultsTo(QDir::current().filePath("run.csv"), &error), qPrintable(error));
      QFile csv("run.csv");
      QVERIFY(csv.open(QIODevice::ReadOnly));
      const QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n", Qt::SkipEmptyParts);
      QFile json("run.json");
      QVERIFY(json.open(QIODevice::ReadOnly));
      const QJsonArray ports = QJsonDocument::fromJson(json.readAll()).object()["ports"].toArray();
      QCOMPARE(ports.size(), kPorts);
      QCOMPARE(lines.size(), kPorts + 1);
      for (int row = 0; row < kPorts; ++row) {
        const QString status = QString::fromStdString(model.Text(row, kColumnStatus));
        const QString time = QString::fromStdString(model.Text(row, kColumnTime));
        const QJsonObject port = ports[row].toObject();
        const QJsonObject counters = port["counters"].toObject();
        const QString where =
            QString("cycle %1, row %2: %3 / %4").arg(cycle).arg(row).arg(status, time);
        if (row == kCorruptingRow) {
          QVERIFY2(status == "Data mismatch" || status == "Success", qPrintable(where));
          QVERIFY2(counters["data_mismatch"].toInteger() > 0, qPrintable(where));
        } else {
          QVERIFY2(status == "Success", qPrintable(where));
        }
        QCOMPARE(counters["write_failed"].toInteger(), 0);
        QVERIFY2((time == "N.A.") == (status != "Success"), qPrintable(where));
        QCOMPARE(port["status"].toString(), status);
        QCOMPARE(counters["packets"].toInteger(), Cell(model, row, kColumnPackets));
        QCOMPARE(counters["errors"].toInteger(), Cell(model, row, kColumnErrors));
        QVERIFY2(lines[row + 1].contains("," + status + ","), qPrintable(lines[row + 1]));
      }
    }
  }

  void PortsEndedByPauseAfterShowTheirLastCountAndReadClosed() {
    MainWindow& w = Open();
    Context().settings.Test.PauseAfter = 30;
    Context().settings.Test.UpdateInterval = 3600000;  // rows refresh on their own only once
    const ResultsModel& model = w.Model();
    w.Action(kIdStart)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Judged(model, PortRunVerdict::kClosed), 20000);
    for (int row = 0; row < kPorts; ++row) {
      QTRY_COMPARE(Cell(model, row, kColumnPackets), qint64{30});
      QCOMPARE(HasBackground(model, row), row == kCorruptingRow);
    }
    QTRY_VERIFY(w.Status().RunSummary().endsWith("1 port failing, 3 closed"));
    QCOMPARE(w.Table().Totals().Text(kColumnPackets), QString("120"));
    QCOMPARE(w.Table().Totals().Text(kColumnStatus), QString("4 ports, 0 open"));
    // Nothing was open at Stop: the record lists no port, and the rows keep
    // the counts their ports ended with.
    w.Action(kIdStop)->trigger();
    QVERIFY(LastStopRecord().empty());
    for (int row = 0; row < kPorts; ++row) QCOMPARE(Cell(model, row, kColumnPackets), qint64{30});
  }
};

}  // namespace quarnex

QTEST_MAIN(quarnex::RunMonitorTest)
#include "run_monitor_test.moc"
