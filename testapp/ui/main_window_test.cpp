// The main window on the simulated adapter: menus and accelerators, the
// menu state table through whole runs, line commands, dialogs through the
// menu, the device map the Port dialog stores (with a run over a
// pseudo-terminal), the log records and what closing saves, the status
// bar's warning about a log that cannot be written.
//
// Each test runs in a fresh temporary working folder with its own
// quarnex.cfg and Quarnex.LOG, and with settings in a MemoryStore.
#include "testapp/ui/main_window.h"

#include <signal.h>

#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "serial/pty_test_util.h"
#include "testapp/driver/device_map.h"
#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/csv_table.h"
#include "testapp/report/file_size_limit_test_util.h"
#include "testapp/settings/device_map_store.h"
#include "testapp/settings/memory_store.h"
#include "testapp/settings/settings_state.h"
#include "testapp/station/http_get_test_util.h"
#include "testapp/ui/close_signals.h"
#include "testapp/ui/metrics_setting.h"
#include "testapp/ui/stop_record_test_util.h"
#include "testapp/ui/window_test_sandbox.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {
namespace {

constexpr char kConfig[] = "RxCharacterSize=3\nTxCharacterSize=3\nParity=0\nBitRate=115200\n";

// Watches for modal windows while it lives: records each one as
// "title|text" and hands it to `handle` (default: close it, OK for a
// message box, Cancel for a dialog).
class ModalWatcher : public QObject {
 public:
  explicit ModalWatcher(std::function<void(QWidget*)> handle = nullptr)
      : handle_(std::move(handle)) {
    connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
    timer_.start(10);
  }
  QStringList seen;

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    // Boxes on the stack can reuse an address: mark each one handled.
    if (modal == nullptr || modal->property("seen").toBool()) return;
    modal->setProperty("seen", true);
    auto* box = qobject_cast<QMessageBox*>(modal);
    seen << modal->windowTitle() + "|" + (box != nullptr ? box->text() : QString());
    if (handle_ && box == nullptr) {
      handle_(modal);
    } else if (box != nullptr) {
      box->button(QMessageBox::Ok)->click();
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    }
  }

  std::function<void(QWidget*)> handle_;
  QTimer timer_;
};

QString ReadLog() {
  QFile file(kLogFileName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromLatin1(file.readAll());
}

int PacketsShown(const MainWindow& w) {
  return std::atoi(w.Model().Text(0, kColumnPackets).c_str());
}

// What GET /metrics on 127.0.0.1:`port` answers; empty when nothing does.
std::string Scrape(int port) {
  const std::optional<HttpReply> reply = HttpGet(port, "/metrics", 5.0);
  return reply && reply->status == 200 ? reply->body : std::string();
}

// The values of the series `family` in a scrape, by their "port" label (0
// for a series without one).
std::map<int, double> Series(const std::string& scrape, const std::string& family) {
  std::map<int, double> values;
  std::istringstream lines(scrape);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(family + "{")) continue;
    const size_t port = line.find("port=\"");
    values[port == std::string::npos ? 0 : std::atoi(line.c_str() + port + 6)] =
        std::strtod(line.c_str() + line.rfind(' ') + 1, nullptr);
  }
  return values;
}

// The lines of a scrape that describe the run, not the server.
std::vector<std::string> RunLines(const std::string& scrape) {
  std::vector<std::string> run;
  std::istringstream lines(scrape);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("quarnex_")) run.push_back(line);
  }
  return run;
}

// The ports whose packets a scrape shows above 0.
std::vector<int> PortsWithPackets(int port) {
  std::vector<int> ports;
  for (const auto& [number, packets] : Series(Scrape(port), "quarnex_packets_total")) {
    if (packets > 0) ports.push_back(number);
  }
  return ports;
}

QStringList ItemTexts(const QComboBox* combo) {
  QStringList texts;
  for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
  return texts;
}

std::string StoredDeviceMap(const MemoryStore& store) {
  std::vector<uint8_t> bytes;
  if (!store.GetBinary(kDeviceMapValueName, &bytes)) return "(none)";
  return std::string(bytes.begin(), bytes.end());
}

// A machine with one USB adapter on its by-id link, and nothing else.
struct OneAdapterTree {
  QTemporaryDir dir;
  bool Make() {
    namespace fs = std::filesystem;
    const fs::path dev = fs::path(dir.path().toStdString()) / "dev";
    std::error_code error;
    fs::create_directories(dev / "serial" / "by-id", error);
    std::ofstream(dev / "ttyUSB0") << "";
    fs::create_symlink("../../ttyUSB0", dev / "serial" / "by-id" / "usb-Quarnex_Test-if00-port0",
                       error);
    return dir.isValid() && !error;
  }
  SerialRoots Roots() const {
    return {(dir.path() + "/dev").toStdString(), (dir.path() + "/sys").toStdString()};
  }
};

}  // namespace

class MainWindowTest : public QObject {
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
    return *window_;
  }

  // The enabled items of the Test and Settings menus that change with the
  // state, as a compact string for comparison.
  static QString Enabled(const MainWindow& w) {
    QString s;
    for (int id : {kIdTestSettings, kIdOptions, kIdTimeouts, kIdStart, kIdPause, kIdContinue,
                   kIdStop, kIdSetRts, kIdClearRts, kIdSetDtr, kIdClearDtr, kIdGetDcd, kIdGetCts,
                   kIdPortSettings, kIdToggle, kIdViewReceivedData, kIdAbout}) {
      s += w.Action(id)->isEnabled() ? '1' : '0';
    }
    return s;
  }
  // Test/Options/Timeouts, Start/Pause/Continue/Stop, the six line
  // commands, Port/Toggle, View received data/About.
  static constexpr char kIdle[] =
      "111"
      "1000"
      "000000"
      "10"
      "11";
  static constexpr char kRunning[] =
      "000"
      "0101"
      "111111"
      "00"
      "11";
  static constexpr char kPaused[] =
      "000"
      "0011"
      "111111"
      "00"
      "11";
  static constexpr char kStopped[] =
      "111"
      "1000"
      "111111"
      "10"
      "11";

 private slots:
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

  void ReceivedDataIsEmptyBeforeAnyRun() {
    MainWindow& w = Open();
    QString text = "unset";
    ModalWatcher watcher([&text](QWidget* dialog) {
      text = dialog->findChild<QPlainTextEdit*>("edit1015")->toPlainText();
      qobject_cast<QDialog*>(dialog)->accept();
    });
    w.Action(kIdViewReceivedData)->trigger();
    QCOMPARE(watcher.seen, QStringList({"Received data|"}));
    QCOMPARE(text, QString());
  }

  void CreatesAnIdleWindowWithItsMenus() {
    MainWindow& w = Open();
    QCOMPARE(w.windowTitle(), QString("ZVL Quarnex Tester -- Quarnex"));
    QStringList popups, items;
    for (QAction* popup : w.menuBar()->actions()) {
      popups << popup->text();
      for (QAction* item : popup->menu()->actions()) {
        if (!item->isSeparator()) items << item->objectName() + "=" + item->text();
      }
    }
    QCOMPARE(popups, QStringList({"&Settings", "&Test", "&Debug", "&Help"}));
    QCOMPARE(items,
             QStringList({"action40004=&Port...\tCtrl+P", "action40005=&Test...\tCtrl+T",
                          "action40011=&Options\tCtrl+O", "action40007=Time&outs...",
                          "action40001=&Start\tF5", "action40008=&Pause\tF6",
                          "action40009=&Continue\tF7", "action40002=S&top\tF8",
                          "action40012=&Toggle\tF9", "action40014=Set RTS", "action40015=Clear RTS",
                          "action40016=Set DTR", "action40017=Clear DTR", "action40018=Get DCD",
                          "action40019=Get CTS", "action40020=Save &results...\tCtrl+S",
                          "action40010=&View received data", "action40003=&About"}));
    QStringList shortcuts;
    for (QAction* action : w.findChildren<QAction*>()) {
      if (!action->shortcut().isEmpty()) {
        shortcuts << action->objectName() + "=" + action->shortcut().toString();
      }
    }
    shortcuts.sort();
    QCOMPARE(shortcuts, QStringList({"action40001=F5", "action40002=F8", "action40004=Ctrl+P",
                                     "action40005=Ctrl+T", "action40008=F6", "action40009=F7",
                                     "action40011=Ctrl+O", "action40020=Ctrl+S"}));
    QCOMPARE(Enabled(w), QString(kIdle));
    QCOMPARE(w.Status().PartText(0), QString("Ready"));
    QCOMPARE(w.Status().PartText(1), QString());
    QCOMPARE(w.Status().PartWidth(0), w.width() / 2);
    // Default widths, each widened to show its whole title; the last column
    // fills the rest of the table's width.
    const QHeaderView* header = w.Table().horizontalHeader();
    for (int i = 0; i + 1 < kColumnCount; ++i) {
      QCOMPARE(header->sectionSize(i),
               std::max(int(kDefaultColumnWidths.Width[i]), header->sectionSizeHint(i)));
    }
    QVERIFY(header->sectionSize(3) > int(kDefaultColumnWidths.Width[3]));
    QCOMPARE(header->length(), w.Table().viewport()->width());
    QVERIFY(w.LogOpen());
    QVERIFY(QFile::exists(kLogFileName));
  }

  void RunCycleFollowsTheMenuTable() {
    MainWindow& w = Open();
    w.Action(kIdStart)->trigger();
    QCOMPARE(Enabled(w), QString(kRunning));
    QVERIFY(w.RunActive());
    QCOMPARE(w.Status().PartText(0), QString("Running"));
    QCOMPARE(w.Status().PartText(1), QString("115200    8N       1024"));
    QCOMPARE(w.Model().rowCount(), 1);
    QCOMPARE(w.Model().Text(0, kColumnPort), std::string("Quarnex01"));
    QCOMPARE(w.Table().selectionBehavior(), QAbstractItemView::SelectRows);
    QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(w) > 0, 10000);
    QTRY_COMPARE(w.Model().Text(0, kColumnStatus), std::string("Success"));
    QVERIFY(ReadLog().contains(">>> TEST START"));

    const QString screenshot_dir = qEnvironmentVariable("QUARNEX_SCREENSHOT_DIR", QDir::tempPath());
    QVERIFY(w.grab().save(QDir(screenshot_dir).filePath("main_window_running.png")));

    w.Action(kIdPause)->trigger();
    QCOMPARE(Enabled(w), QString(kPaused));
    QCOMPARE(w.Status().PartText(0), QString("Paused"));
    w.Action(kIdContinue)->trigger();
    QCOMPARE(Enabled(w), QString(kRunning));
    QCOMPARE(w.Status().PartText(0), QString("Running"));
    const int before = PacketsShown(w);
    QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(w) > before, 10000);

    w.Action(kIdStop)->trigger();
    QCOMPARE(Enabled(w), QString(kStopped));
    QCOMPARE(w.Status().PartText(0), QString("Stopped"));
    QCOMPARE(w.Status().PartText(1), QString("115200    8N       1024"));
    QVERIFY(!w.RunActive());
    const QString log = ReadLog();
    QCOMPARE(log.count(">>> TEST START"), 1);
    QCOMPARE(log.count(">>> TEST STOP"), 1);
    QVERIFY(log.indexOf("[COM1]") > log.indexOf(">>> TEST START"));
    QVERIFY(log.indexOf("[COM1]") < log.indexOf(">>> TEST STOP"));
    QCOMPARE(w.Model().Text(0, kColumnPort), std::string("Quarnex01"));  // rows stay after Stop

    // Pause then Stop: the next Start runs unpaused.
    w.Action(kIdStart)->trigger();
    QCOMPARE(Enabled(w), QString(kRunning));
    w.Action(kIdPause)->trigger();
    w.Action(kIdStop)->trigger();
    QCOMPARE(Enabled(w), QString(kStopped));
    w.Action(kIdStart)->trigger();
    QCOMPARE(Context().run.PauseFlag.load(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(w) > 0, 10000);
    w.Action(kIdStop)->trigger();
    QCOMPARE(ReadLog().count(">>> TEST STOP"), 3);
  }

  // A writer of Transmit only waits for a release: the Start gives each open
  // port its first, so packets go out with no Continue.
  void TransmitOnlyStartSendsWithoutAContinue() {
    MainWindow& w = Open();
    Context().settings.Test.Mode = kTransmitOnly;
    Context().settings.Test.PortCount = 2;
    w.Action(kIdStart)->trigger();
    QCOMPARE(Enabled(w), QString(kRunning));
    QCOMPARE(w.Model().rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
      QTRY_VERIFY_WITH_TIMEOUT(std::atoi(w.Model().Text(row, kColumnPackets).c_str()) > 0, 10000);
    }
    w.Action(kIdStop)->trigger();
  }

  void OnlyTheSevenAcceleratorsAct() {
    MainWindow& w = Open();
    for (const auto& [modifier, key, title] :
         {std::tuple{Qt::ControlModifier, Qt::Key_O, "Options|"},
          std::tuple{Qt::ControlModifier, Qt::Key_P, "Port Settings|"}}) {
      w.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&w));
      ModalWatcher dialog;
      QTest::keyClick(&w, key, modifier);
      QCOMPARE(dialog.seen, QStringList({title}));
    }
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    ModalWatcher watcher;
    for (QKeyCombination key : {QKeyCombination(Qt::Key_F9), QKeyCombination(Qt::Key_F6),
                                QKeyCombination(Qt::Key_F7), QKeyCombination(Qt::Key_F8)}) {
      QTest::keyClick(&w, key.key(), key.keyboardModifiers());
      QTest::qWait(50);
    }
    QCOMPARE(watcher.seen, QStringList());
    QCOMPARE(w.State(), MenuState::kIdle);

    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(w.State(), MenuState::kRunning);
    QTest::keyClick(&w, Qt::Key_T, Qt::ControlModifier);  // disabled while running
    QTest::keyClick(&w, Qt::Key_P, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_F5);
    QTest::qWait(50);
    QCOMPARE(watcher.seen, QStringList());
    QTest::keyClick(&w, Qt::Key_F6);
    QCOMPARE(w.State(), MenuState::kPaused);
    QTest::keyClick(&w, Qt::Key_F7);
    QCOMPARE(w.State(), MenuState::kRunning);
    QTest::keyClick(&w, Qt::Key_F8);
    QCOMPARE(w.State(), MenuState::kStopped);
    QTest::keyClick(&w, Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(watcher.seen, QStringList({"Test Settings|"}));
    QCOMPARE(ReadLog().count(">>> TEST START"), 1);
  }

  void LineCommandsReachEveryOpenPort() {
    MainWindow& w = Open();
    w.Action(kIdStart)->trigger();
    QVERIFY(w.RunActive());
    ModalWatcher watcher;
    w.Action(kIdSetDtr)->trigger();
    w.Action(kIdGetDcd)->trigger();
    w.Action(kIdClearDtr)->trigger();
    w.Action(kIdGetDcd)->trigger();
    w.Action(kIdSetRts)->trigger();
    w.Action(kIdGetCts)->trigger();
    w.Action(kIdClearRts)->trigger();
    w.Action(kIdGetCts)->trigger();
    QCOMPARE(watcher.seen, QStringList({"DCD|DCD is high", "DCD|DCD is low", "CTS|CTS is high",
                                        "CTS|CTS is low"}));

    // After Stop the commands stay enabled; with no port open nothing is
    // asked and the box still shows once.
    w.Action(kIdStop)->trigger();
    QTRY_COMPARE(Context().run.Ports[0].InUse.load(), 0);
    QVERIFY(w.Action(kIdGetCts)->isEnabled());
    watcher.seen.clear();
    w.Action(kIdSetRts)->trigger();
    w.Action(kIdGetCts)->trigger();
    QCOMPARE(watcher.seen, QStringList({"CTS|CTS is low"}));
  }

  void FailedStartShowsErrorsAndKeepsTheState() {
    Open();
    Context().settings.Test.PortIndex = 250;  // the simulated adapter has no such port
    ModalWatcher watcher;
    window_->Action(kIdStart)->trigger();
    QCOMPARE(watcher.seen,
             QStringList({"Error|Failed to open \\\\.\\Quarnex250\n"
                          "simulated adapter port 250: no such port (QUARNEX_SIM)\n\n"
                          "Port(s) init process failed miserably.\nCan't run the test"}));
    // The port keeps its row, failed.
    QCOMPARE(window_->Model().rowCount(), 1);
    QCOMPARE(window_->Model().Text(0, kColumnStatus), std::string("Not opened"));
    QCOMPARE(window_->Model().RowVerdict(0), std::optional(PortRunVerdict::kFailed));
    QCOMPARE(Enabled(*window_), QString(kIdle));
    QCOMPARE(window_->Status().PartText(0), QString("Ready"));
    QVERIFY(!window_->RunActive());
    QVERIFY(!ReadLog().contains("TEST START"));
  }

  // Twelve ports with four missing: one box after the Start, the others
  // running. Without quarnex.cfg the banner says so and what the run uses.
  void StartMessagesComeInOneBoxAndAMissingConfigurationIsShown() {
    QVERIFY(QFile::remove("quarnex.cfg"));
    MainWindow& w = Open();
    QVERIFY(w.Banner().isHidden());
    Context().settings.Test.PortIndex = 9;
    Context().settings.Test.PortCount = 12;
    ModalWatcher watcher;
    w.Action(kIdStart)->trigger();
    QString box = "Error|";
    for (int port = 17; port <= 20; ++port) {
      box += QString(
                 "Failed to open \\\\.\\Quarnex%1\n"
                 "simulated adapter port %1: no such port (QUARNEX_SIM)")
                 .arg(port);
      if (port < 20) box += "\n\n";
    }
    QCOMPARE(watcher.seen, QStringList({box}));
    QVERIFY(w.RunActive());
    QCOMPARE(w.Model().rowCount(), 12);
    QVERIFY(!w.Banner().isHidden());
    QVERIFY(w.Banner().Text().startsWith("quarnex.cfg: no such file. "));
    QVERIFY(w.Banner().Text().contains("no BitRate"));
    w.Action(kIdStop)->trigger();
    JoinAllPorts(Context());  // as the dialogs do before they change a setting

    // A value read leniently is named in the banner, once, until the next
    // Start; with the file clean the banner goes.
    QVERIFY(WriteConfigFile((std::string(kConfig) + "Lim=0x10\n").c_str()));
    Context().settings.Test.PortCount = 2;
    w.Action(kIdStart)->trigger();
    QVERIFY(!w.Banner().isHidden());
    QCOMPARE(w.Banner().Text(),
             QString("quarnex.cfg: Lim=0x10 is not a whole number from 0 to 2147483647; the block "
                     "received 0"));
    w.Action(kIdStop)->trigger();
    JoinAllPorts(Context());
    QVERIFY(WriteConfigFile(kConfig));
    w.Action(kIdStart)->trigger();
    QVERIFY(w.Banner().isHidden());
    w.Action(kIdStop)->trigger();
  }

  // The table as CSV and the run as the runner's JSON summary, whose
  // counters are the stop record's.
  void SavedResultsAreTheTableAndTheRunSummary() {
    MainWindow& w = Open();
    Context().settings.Test.PortCount = 2;
    w.Action(kIdStart)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(w) > 0, 10000);
    w.Action(kIdStop)->trigger();
    JoinAllPorts(Context());
    QString error;
    QVERIFY2(w.SaveResultsTo(QDir::current().filePath("run.csv"), &error), qPrintable(error));

    QFile csv("run.csv");
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].startsWith("Port,Packets,Errors,Time(ms) -- Avg Last Max (T.P.),Status"));
    for (int row = 0; row < 2; ++row) {
      QStringList cells;
      for (int c = 0; c < kColumnCount; ++c) {
        cells << QString::fromStdString(CsvField(w.Model().Text(row, c)));
      }
      QCOMPARE(lines[row + 1], cells.join(","));
    }

    QFile json("run.json");
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QJsonObject summary = QJsonDocument::fromJson(json.readAll()).object();
    QCOMPARE(summary["type"].toString(), QString("summary"));
    QCOMPARE(summary["end_reason"].toString(), QString("stopped"));
    const QJsonArray ports = summary["ports"].toArray();
    QCOMPARE(ports.size(), 2);
    const QString log = ReadLog();
    const qsizetype stop = log.lastIndexOf(">>> TEST STOP");
    QStringList logged;
    static const QRegularExpression kPackets("Number of packets: (\\d+)");
    for (const QRegularExpressionMatch& m :
         kPackets.globalMatch(log.mid(log.lastIndexOf(">>> TEST START"), stop))) {
      logged << m.captured(1);
    }
    QStringList saved;
    for (const QJsonValue& port : ports) {
      saved << QString::number(port.toObject()["counters"].toObject()["packets"].toInteger());
    }
    QCOMPARE(saved, logged);
  }

  // Eight ports asked for, the eighth missing: it has a row from Start,
  // red, with what was tried and why in its tooltip, and it fails in the
  // totals, the status bar, the CSV and the JSON, while the log's stop
  // record lists the seven that ran.
  void APortThatCouldNotBeOpenedIsAFailedRowEverywhere() {
    MainWindow& w = Open();
    Context().settings.Test.PortIndex = 10;
    Context().settings.Test.PortCount = 8;  // 10 to 17; the adapter has 1 to 16
    const ResultsModel& model = w.Model();
    ModalWatcher watcher;
    w.Action(kIdStart)->trigger();
    QCOMPARE(watcher.seen, QStringList({"Error|Failed to open \\\\.\\Quarnex17\n"
                                        "simulated adapter port 17: no such port (QUARNEX_SIM)"}));
    QVERIFY(w.RunActive());
    QCOMPARE(model.rowCount(), 8);
    constexpr int kMissing = 7;
    QCOMPARE(model.Text(kMissing, kColumnPort), std::string("Quarnex17"));
    QCOMPARE(model.Text(kMissing, kColumnStatus), std::string("Not opened"));
    QTRY_VERIFY_WITH_TIMEOUT(w.Status().RunSummary().endsWith("1 port failing, 7 passing"), 10000);
    QCOMPARE(w.Status().RunSummaryColor(), VerdictColor(PortRunVerdict::kFailed));
    QCOMPARE(model.RowVerdict(kMissing), std::optional(PortRunVerdict::kFailed));
    QCOMPARE(model.data(model.index(kMissing, 0), Qt::BackgroundRole).value<QBrush>().color(),
             VerdictColor(PortRunVerdict::kFailed));
    QCOMPARE(w.Table().Totals().Text(kColumnStatus), QString("8 ports, 7 open"));
    const QString tip = model.data(model.index(kMissing, kColumnPort), Qt::ToolTipRole).toString();
    QCOMPARE(tip, QString("Quarnex17: failed\nNot opened\nTried: simulated adapter port 17\n"
                          "Reason: no such port (QUARNEX_SIM)"));

    w.Action(kIdStop)->trigger();
    JoinAllPorts(Context());
    QCOMPARE(model.Text(kMissing, kColumnStatus), std::string("Not opened"));
    QVERIFY(w.Status().RunSummary().endsWith("1 port failing, 7 passing"));
    QCOMPARE(int(LastStopRecordPorts(ReadLog()).size()), 7);
    QString error;
    QVERIFY2(w.SaveResultsTo(QDir::current().filePath("run.csv"), &error), qPrintable(error));
    QFile csv("run.csv");
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 9);
    QCOMPARE(lines[kMissing + 1], QString("Quarnex17,,,,Not opened,"));
    QFile json("run.json");
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QJsonObject summary = QJsonDocument::fromJson(json.readAll()).object();
    QCOMPARE(summary["result"].toString(), QString("fail"));
    const QJsonArray ports = summary["ports"].toArray();
    QCOMPARE(ports.size(), 8);
    const QJsonObject missing = ports[kMissing].toObject();
    QCOMPARE(missing["port"].toInt(), 17);
    QVERIFY(!missing["opened"].toBool());
    QVERIFY(!missing["pass"].toBool());
    QCOMPARE(missing["status"].toString(), QString("Not opened"));
    QCOMPARE(missing["open_path"].toString(), QString("simulated adapter port 17"));
    QCOMPARE(missing["open_reason"].toString(), QString("no such port (QUARNEX_SIM)"));
    const QJsonObject totals = summary["totals"].toObject();
    QCOMPARE(totals["ports_failed"].toInt(), 1);
    QCOMPARE(totals["ports_passed"].toInt(), 7);
    QCOMPARE(totals["ports_opened"].toInt(), 7);

    // A Start that fails before its ports leaves the stopped run's rows,
    // colours and summary as they were.
    const QString summary_before = w.Status().RunSummary();
    TestSettings& t = Context().settings.Test;
    const std::string missing_file = "no-such-file.bin";
    std::snprintf(t.FileName, sizeof(t.FileName), "%s", missing_file.c_str());
    t.FileNameLength = static_cast<uint8_t>(missing_file.size());
    watcher.seen.clear();
    w.Action(kIdStart)->trigger();
    QCOMPARE(watcher.seen.size(), 1);
    QVERIFY(watcher.seen[0].startsWith("Error|Error in getting specified file"));
    QCOMPARE(w.Status().RunSummary(), summary_before);
    QCOMPARE(model.RowVerdict(0), std::optional(PortRunVerdict::kPassing));
    QCOMPARE(model.RowVerdict(kMissing), std::optional(PortRunVerdict::kFailed));
  }

  void TestSettingsThroughTheMenu() {
    MainWindow& w = Open();
    Settings& s = Context().settings;
    s.Test.PortCount = 5;
    const TestSettings before = s.Test;
    {
      ModalWatcher cancel;
      w.Action(kIdTestSettings)->trigger();
      QCOMPARE(cancel.seen, QStringList({"Test Settings|"}));
    }
    // Cancel changes nothing, the number of ports included.
    QVERIFY(std::memcmp(&s.Test, &before, sizeof(TestSettings)) == 0);

    auto confirm_with = [](const QString& mode_text) {
      return [mode_text](QWidget* dialog) {
        dialog->findChild<QComboBox*>("combo1016")->setEditText(mode_text);
        dialog->findChild<QPushButton*>("button1")->click();
      };
    };
    {
      ModalWatcher ok(confirm_with("Transmit only"));
      w.Action(kIdTestSettings)->trigger();
    }
    QCOMPARE(s.Test.Mode, int32_t{kTransmitOnly});
    QCOMPARE(w.windowTitle(), QString("ZVL Quarnex Tester -- Transmit Only"));
    {
      ModalWatcher ok(confirm_with(""));  // no entry selected
      w.Action(kIdTestSettings)->trigger();
    }
    QCOMPARE(s.Test.Mode, int32_t{kLoopback});
    QCOMPARE(w.windowTitle(), QString("ZVL Quarnex Tester -- Quarnex"));

    // Timeouts: Defaults then Cancel changes nothing.
    s.Timeouts = {5, 6};
    {
      ModalWatcher defaults_then_cancel([](QWidget* dialog) {
        dialog->findChild<QPushButton*>("button1030")->click();
        dialog->findChild<QPushButton*>("button2")->click();
      });
      w.Action(kIdTimeouts)->trigger();
    }
    QCOMPARE(s.Timeouts.ReadTotalTimeoutMultiplier, 5u);
    QCOMPARE(s.Timeouts.ReadTotalTimeoutConstant, 6u);
  }

  // Port 1 onto a pseudo-terminal through the Port dialog: the map is
  // stored and installed, comes back with the next window, and the next
  // Start runs over the terminal, whose far end echoes.
  void PortDialogMapsAPortToAPseudoTerminalForTheNextStart() {
    PtyPair pty;
    QVERIFY(pty.Open());
    EchoPlug plug(pty.master.get());
    OneAdapterTree tree;
    QVERIFY(tree.Make());
    MainWindow& w = Open();
    w.SetSerialRoots(tree.Roots());
    QStringList listed;
    {
      ModalWatcher ok([&](QWidget* dialog) {
        auto* device = dialog->findChild<QComboBox*>("device1");
        listed = ItemTexts(device);
        device->setEditText(QString::fromStdString(pty.slave_path));
        dialog->findChild<QPushButton*>("button1")->click();
      });
      w.Action(kIdPortSettings)->trigger();
      QCOMPARE(ok.seen, QStringList({"Port Settings|"}));
    }
    QCOMPARE(listed, QStringList({"Simulated adapter", "usb-Quarnex_Test-if00-port0 (" +
                                                           tree.dir.path() + "/dev/ttyUSB0)"}));
    const std::string stored = "1=" + pty.slave_path + "\n";
    QCOMPARE(StoredDeviceMap(*store_), stored);
    QCOMPARE(FormatDeviceMap(Context().devices.Map()), stored);

    // As after a restart of the program: nothing installed, the store kept.
    window_.reset();
    Context().devices.SetMap({});
    MainWindow& again = Open();
    QCOMPARE(FormatDeviceMap(Context().devices.Map()), stored);

    again.Action(kIdStart)->trigger();
    QVERIFY(again.RunActive());
    QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(again) > 0, 10000);
    QTRY_COMPARE(again.Model().Text(0, kColumnStatus), std::string("Success"));
    QVERIFY(plug.echoed() >= static_cast<uint64_t>(Context().settings.PacketSize));
    again.Action(kIdStop)->trigger();
    QCOMPARE(again.Model().Text(0, kColumnErrors), std::string("0"));
  }

  // Cancel leaves the installed and the stored map alone; a mapped device
  // that is not there is no error until a Start cannot open it, and the
  // dialog shows it missing and keeps it.
  void PortDialogCancelChangesNothingAndAMissingDeviceIsShownMissing() {
    constexpr char kGone[] = "/dev/serial/by-id/usb-Quarnex_Unplugged-if00-port0";
    const std::string stored = std::string("1=") + kGone + "\n2=/dev/null,loop\n";
    store_->PutBinary(kDeviceMapValueName, std::vector<uint8_t>(stored.begin(), stored.end()));
    // A box at start-up would be modal: Open() would return only once the
    // watcher had closed it.
    std::unique_ptr<ModalWatcher> start_up = std::make_unique<ModalWatcher>();
    MainWindow& w = Open();
    QCOMPARE(start_up->seen, QStringList());
    start_up.reset();
    QCOMPARE(FormatDeviceMap(Context().devices.Map()), stored);
    Context().settings.Test.PortCount = 2;

    {
      ModalWatcher cancel([](QWidget* dialog) {
        dialog->findChild<QComboBox*>("device1")->setCurrentIndex(0);
        dialog->findChild<QCheckBox*>("loop2")->setChecked(false);
        dialog->findChild<QPushButton*>("button2")->click();
      });
      w.Action(kIdPortSettings)->trigger();
      QCOMPARE(cancel.seen, QStringList({"Port Settings|"}));
    }
    QCOMPARE(FormatDeviceMap(Context().devices.Map()), stored);
    QVERIFY(store_->writes().empty());

    QString shown;
    bool looped = false;
    {
      ModalWatcher ok([&](QWidget* dialog) {
        shown = dialog->findChild<QComboBox*>("device1")->currentText();
        looped = dialog->findChild<QCheckBox*>("loop2")->isChecked();
        dialog->findChild<QPushButton*>("button1")->click();
      });
      w.Action(kIdPortSettings)->trigger();
    }
    QCOMPARE(shown, QString(kGone) + " (missing)");
    QVERIFY(looped);
    QCOMPARE(StoredDeviceMap(*store_), stored);

    // The Start tells it as any port it cannot open.
    ModalWatcher watcher;
    w.Action(kIdStart)->trigger();
    QVERIFY(!watcher.seen.isEmpty());
    QVERIFY2(watcher.seen.front().startsWith("Error|Failed to open \\\\.\\Quarnex01"),
             qPrintable(watcher.seen.front()));
    if (w.RunActive()) w.Action(kIdStop)->trigger();
  }

  void ReceivedDataShowsWhatSlotZeroGot() {
    MainWindow& w = Open();
    Context().settings.PacketSize = 64;
    w.Action(kIdStart)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(w) > 0, 10000);
    w.Action(kIdStop)->trigger();
    QString text;
    ModalWatcher watcher([&text](QWidget* dialog) {
      text = dialog->findChild<QPlainTextEdit*>("edit1015")->toPlainText();
      qobject_cast<QDialog*>(dialog)->accept();
    });
    w.Action(kIdViewReceivedData)->trigger();
    QCOMPARE(text, QString("ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKL"));
  }

  // "Serve metrics" stored on: a run serves the runner's metrics for its
  // ports, at Stop with the stop record's counters; the next Start serves
  // the new run at the same port, and unticking the option in the dialog
  // stores it off and closes the endpoint.
  void ARunServesItsMetricsWhileTheOptionIsOn() {
    if (!WindowMetrics::Available()) QSKIP("built without prometheus-cpp");
    QVERIFY(SaveMetricsSetting(*store_, MetricsSetting{true, "127.0.0.1:0"}));
    MainWindow& w = Open();
    QCOMPARE(w.MetricsPort(), 0);
    Context().settings.Test.PortIndex = 2;
    Context().settings.Test.PortCount = 3;
    w.Action(kIdStart)->trigger();
    const int port = w.MetricsPort();
    QVERIFY(port > 0);
    QTRY_COMPARE_WITH_TIMEOUT(PortsWithPackets(port), (std::vector<int>{2, 3, 4}), 10000);
    const std::string running = Scrape(port);
    QCOMPARE(Series(running, "quarnex_run_finished"), (std::map<int, double>{{0, 0.0}}));
    QVERIFY(running.find("mode=\"loopback\"") != std::string::npos);
    QCOMPARE(Series(running, "quarnex_line_rate_bits_per_second"),
             (std::map<int, double>{{0, 115200.0}}));

    w.Action(kIdStop)->trigger();
    JoinAllPorts(Context());
    const std::string stopped = Scrape(port);
    QCOMPARE(Series(stopped, "quarnex_run_finished"), (std::map<int, double>{{0, 1.0}}));
    // The stop record's port blocks come before its ">>> TEST STOP" line.
    const QString log = ReadLog();
    const qsizetype start = log.lastIndexOf(">>> TEST START");
    static const QRegularExpression kPackets("Number of packets: (\\d+)");
    QStringList logged;
    for (const QRegularExpressionMatch& m :
         kPackets.globalMatch(log.mid(start, log.lastIndexOf(">>> TEST STOP") - start))) {
      logged << m.captured(1);
    }
    QStringList served;
    for (const auto& [number, packets] : Series(stopped, "quarnex_packets_total")) {
      served << QString::number(static_cast<qint64>(packets));
    }
    QCOMPARE(served, logged);
    // Nothing of the run moves after the stop (the server's own series do).
    QCOMPARE(RunLines(Scrape(port)), RunLines(stopped));

    w.Action(kIdStart)->trigger();
    QCOMPARE(w.MetricsPort(), port);
    QCOMPARE(Series(Scrape(port), "quarnex_run_finished"), (std::map<int, double>{{0, 0.0}}));
    w.Action(kIdStop)->trigger();

    ModalWatcher watcher([](QWidget* dialog) {
      dialog->findChild<QCheckBox*>("check1080")->setChecked(false);
      dialog->findChild<QPushButton*>("button1")->click();
    });
    w.Action(kIdOptions)->trigger();
    QCOMPARE(watcher.seen, QStringList({"Options|"}));
    QCOMPARE(w.MetricsPort(), 0);
    QVERIFY(!HttpGet(port, "/metrics", 1.0));
    QCOMPARE(LoadMetricsSetting(*store_), (MetricsSetting{false, "127.0.0.1:0"}));
  }

  // An address that cannot be bound is one more message of the Start; the
  // run goes on without an endpoint.
  void AnAddressInUseIsToldAndTheRunGoesOn() {
    if (!WindowMetrics::Available()) QSKIP("built without prometheus-cpp");
    const int taken = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(taken >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    QVERIFY(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            listen(taken, 1) == 0 &&
            getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    const QString in_use = QString("127.0.0.1:%1").arg(ntohs(address.sin_port));
    QVERIFY(SaveMetricsSetting(*store_, MetricsSetting{true, in_use.toStdString()}));
    MainWindow& w = Open();
    ModalWatcher watcher;
    w.Action(kIdStart)->trigger();
    close(taken);
    QCOMPARE(watcher.seen.size(), 1);
    QVERIFY2(watcher.seen[0].startsWith("Error|cannot serve metrics on " + in_use + ": "),
             qPrintable(watcher.seen[0]));
    QVERIFY(w.RunActive());
    QCOMPARE(w.MetricsPort(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(w) > 0, 10000);
    w.Action(kIdStop)->trigger();
  }

  void ClosingDuringARunWritesTheStopRecord() {
    MainWindow& w = Open();
    w.Action(kIdStart)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(w) > 0, 10000);
    w.close();
    const QString log = ReadLog();
    QCOMPARE(log.count(">>> TEST START"), 1);
    QCOMPARE(log.count(">>> TEST STOP"), 1);
    QVERIFY(!w.LogOpen());
    for (const PortContext& port : Context().run.Ports) QCOMPARE(port.InUse.load(), 0);
    // Saved first, with the records and the layout.
    for (const char* name :
         {"Test", "Port", "Packet", "Timeouts", "Left", "Width", "Column0", "Column5"}) {
      QVERIFY2(store_->writes().size() > 0 &&
                   std::find(store_->writes().begin(), store_->writes().end(), name) !=
                       store_->writes().end(),
               name);
    }
    QCOMPARE(store_->writes().front(), std::string("Test"));
  }

  void ClosingDuringARunLogsEveryOpenPort() {
    // The workers close their ports as soon as they are told to end: a
    // record taken after that misses ports, and which ones varies.
    constexpr int kPorts = 8;
    QStringList expected;
    for (int port = 1; port <= kPorts; ++port) expected << QString("[COM%1]").arg(port);
    for (int round = 1; round <= 5; ++round) {
      MainWindow& w = Open();
      Context().settings.Test.PortCount = kPorts;
      w.Action(kIdStart)->trigger();
      QVERIFY(w.RunActive());
      QTRY_VERIFY_WITH_TIMEOUT(PacketsShown(w) > 0, 10000);
      for (int i = 0; i < kPorts; ++i) QCOMPARE(Context().run.Ports[i].InUse.load(), 1);
      w.close();
      window_.reset();
      const QString log = ReadLog();
      QCOMPARE(log.count(">>> TEST STOP"), round);
      QCOMPARE(LastStopRecordPorts(log), expected);
    }
  }

  void StopAndCloseDoNotWaitForALongDelay() {
    // The transmitter's Delay waits on the run's exit event: F8 and the
    // window's close return at once, whatever Delay says.
    for (const bool close : {false, true}) {
      MainWindow& w = Open();
      Context().settings.Test.Delay = 600000;
      w.Action(kIdStart)->trigger();
      QVERIFY(w.RunActive());
      QTest::qWait(200);  // every writer is in its Delay now
      QElapsedTimer timer;
      timer.start();
      if (close) {
        w.close();
        window_.reset();
      } else {
        w.Action(kIdStop)->trigger();
        JoinAllPorts(Context());
      }
      QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
      if (!close) window_.reset();
    }
  }

  void ASignalWhileAStartErrorShowsLetsTheStartFinishFirst() {
    // Ports 10 to 17: the simulated adapter has no port 17, so Start shows
    // its error box with seven ports running.
    MainWindow& w = Open();
    Context().settings.Test.PortIndex = 10;
    Context().settings.Test.PortCount = 8;
    CloseSignals close_signals([&w](int) { CloseWindowForSignal(&w); });
    QVERIFY(close_signals.ok());
    QStringList seen;
    QTimer signal_at_box;
    connect(&signal_at_box, &QTimer::timeout, [&seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || box->property("seen").toBool()) return;
      box->setProperty("seen", true);
      seen << box->windowTitle() + "|" + box->text();
      raise(SIGTERM);
    });
    signal_at_box.start(10);
    QTimer::singleShot(0, &w, &MainWindow::Start);
    QTimer never_hang;
    never_hang.setSingleShot(true);
    connect(&never_hang, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    never_hang.start(60000);
    // As in main(): the program's loop, then the window's end.
    QCOMPARE(QApplication::exec(), 0);
    signal_at_box.stop();
    QCOMPARE(seen, QStringList({"Error|Failed to open \\\\.\\Quarnex17\n"
                                "simulated adapter port 17: no such port (QUARNEX_SIM)"}));
    QVERIFY(w.RunActive());
    window_.reset();
    const QString log = ReadLog();
    QCOMPARE(log.count(">>> TEST START"), 1);
    QCOMPARE(log.count(">>> TEST STOP"), 1);
    QStringList running;
    for (int port = 10; port <= 16; ++port) running << QString("[COM%1]").arg(port);
    QCOMPARE(LastStopRecordPorts(log), running);
    for (const PortContext& port : Context().run.Ports) QCOMPARE(port.InUse.load(), 0);
  }

  void ClosingIdleOrStoppedWritesNoStopRecord() {
    Open().close();
    QCOMPARE(ReadLog().count(">>> TEST STOP"), 0);

    MainWindow& w = Open();
    w.Action(kIdStart)->trigger();
    w.Action(kIdStop)->trigger();
    w.close();
    QCOMPARE(ReadLog().count(">>> TEST STOP"), 1);
  }

  void ALogThatCannotBeOpenedIsShownBesideTheParts() {
    QVERIFY(QDir().mkdir(kLogFileName));  // a folder where the file would be
    MainWindow& w = Open();
    QVERIFY(!w.LogOpen());
    const QString warning = "No log: cannot open the log Quarnex.LOG: Is a directory";
    QCOMPARE(w.Status().LogWarning(), warning);
    QCOMPARE(w.Status().PartText(0), QString("Ready"));
    QCOMPARE(w.Status().PartText(1), QString());
    QCOMPARE(w.Status().PartWidth(0), w.width() / 2);
    // No start record is written, so the warning stays through the run.
    w.Action(kIdStart)->trigger();
    QCOMPARE(w.Status().PartText(0), QString("Running"));
    QCOMPARE(w.Status().PartText(1), QString("115200    8N       1024"));
    QCOMPARE(w.Status().LogWarning(), warning);
    w.Action(kIdStop)->trigger();
    QCOMPARE(w.Status().PartText(0), QString("Stopped"));
    QCOMPARE(w.Status().LogWarning(), warning);
  }

  void ALogThatCannotBeWrittenIsShownUntilAStartRecordIsWrittenWhole() {
    const struct {
      const char* name;
      bool full_device;  // else: the disk is full during the first Start
      const char* reason;
    } kCases[] = {
        {"link to /dev/full", true, "No space left on device"},
        {"disk full at Start", false, "File too large"},
    };
    for (const auto& c : kCases) {
      QFile::remove(kLogFileName);
      if (c.full_device) QVERIFY(QFile::link("/dev/full", kLogFileName));
      MainWindow& w = Open();
      QVERIFY2(w.LogOpen(), c.name);
      QCOMPARE(w.Status().LogWarning(), QString());
      {
        std::optional<FileSizeLimit> disk_full;
        if (!c.full_device) QVERIFY(disk_full.emplace(0).ok());
        w.Action(kIdStart)->trigger();
      }
      const QString warning =
          QString("Log not written: cannot write the log Quarnex.LOG: ") + c.reason;
      QCOMPARE(w.Status().LogWarning(), warning);
      QCOMPARE(w.Status().PartText(0), QString("Running"));
      QCOMPARE(w.Status().PartText(1), QString("115200    8N       1024"));
      // A stop record is no start record: the warning stays, failed or not.
      w.Action(kIdStop)->trigger();
      QCOMPARE(w.Status().PartText(0), QString("Stopped"));
      QCOMPARE(w.Status().LogWarning(), warning);

      w.Action(kIdStart)->trigger();
      if (c.full_device) {
        QCOMPARE(w.Status().LogWarning(), warning);
      } else {
        QCOMPARE(w.Status().LogWarning(), QString());
        // The record after the lost one starts on a line of its own.
        const QString log = ReadLog();
        QVERIFY2(log.startsWith("\r\n\r\n\r\n[COM1]\r\n"), qPrintable(log.left(40)));
        QCOMPARE(log.count(">>> TEST START"), 1);
      }
      w.Action(kIdStop)->trigger();
      window_.reset();
    }
  }

  void LayoutIsRestoredAndSavedAlike() {
    store_->PutU32("Left", 30);
    store_->PutU32("Top", 40);
    store_->PutU32("Width", 700);
    store_->PutU32("Height", 380);
    store_->PutU32("Column3", 230);
    store_->PutU32("Column4", 900);  // loads as 500, and 500 is not saved
    MainWindow& w = Open();
    QCOMPARE(w.geometry(), QRect(30, 40, 700, 380));
    QCOMPARE(w.Table().horizontalHeader()->sectionSize(3), 230);
    QCOMPARE(w.Table().horizontalHeader()->sectionSize(4), 500);
    w.Table().horizontalHeader()->resizeSection(0, 95);
    w.close();
    uint32_t value = 0;
    const std::pair<const char*, uint32_t> expected[] = {
        {"Left", 30},    {"Top", 40},      {"Width", 700},  {"Height", 380},
        {"Column0", 95}, {"Column3", 230}, {"Column4", 900}};
    for (const auto& [name, stored] : expected) {
      QVERIFY(store_->GetU32(name, &value));
      QCOMPARE(value, stored);
    }
  }

  // A damaged store's absurd size and far-off place: the window fits the
  // screen and can be seen; the next save stores what it really is.
  void AbsurdLayoutIsFittedToTheScreen() {
    store_->PutU32("Left", 50000);
    store_->PutU32("Top", 40000);
    store_->PutU32("Width", 99999999);
    store_->PutU32("Height", 99999999);
    MainWindow& w = Open();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(w.width() <= area.width());
    QVERIFY(w.height() <= area.height());
    QVERIFY(w.geometry().intersects(area));
    w.close();
    uint32_t width = 0;
    QVERIFY(store_->GetU32("Width", &width));
    QVERIFY(width <= static_cast<uint32_t>(area.width()));
  }

  void ResizeKeepsTheStatusBarAtTheBottom() {
    MainWindow& w = Open();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int bar_height = w.Status().height();
    const int part0 = w.Status().PartWidth(0);
    for (QSize size : {QSize(500, 300), QSize(1000, 600)}) {
      w.resize(size);
      QTRY_COMPARE(w.Status().geometry().bottom(), w.height() - 1);
      QCOMPARE(w.Status().height(), bar_height);
      QCOMPARE(w.Status().width(), w.width());
      // Table, then the plot's dock, then the status bar, with no gap.
      const QWidget* dock = w.Plot().parentWidget();
      QVERIFY(w.Table().geometry().bottom() < dock->geometry().top());
      QCOMPARE(dock->geometry().bottom() + 1, w.Status().geometry().top());
      QCOMPARE(w.Table().width(), w.width());
      QCOMPARE(w.Status().PartWidth(0), part0);
    }
  }
};

}  // namespace quarnex

QTEST_MAIN(quarnex::MainWindowTest)
#include "main_window_test.moc"
