// The dialogs driven through their widgets: what each shows when it opens
// and what it hands back.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "testapp/engine/first_mismatch.h"
#include "testapp/ui/about_dialog.h"
#include "testapp/ui/options_dialog.h"
#include "testapp/ui/port_dialog.h"
#include "testapp/ui/received_data_dialog.h"
#include "testapp/ui/test_settings_dialog.h"
#include "testapp/ui/timeouts_dialog.h"
#include "testapp/ui/window_metrics.h"

namespace quarnex {
namespace {

template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  if (child == nullptr) qFatal("no child %s", name);
  return child;
}

TestDialogValues Values(int32_t mode, const char* file = "/data/file") {
  TestDialogValues v{DefaultTestSettings(), 1024};
  v.Test.Mode = mode;
  v.Test.PortCount = 4;
  v.Test.PortIndex = 3;
  std::strcpy(v.Test.FileName, file);
  v.Test.FileNameLength = static_cast<uint8_t>(std::strlen(file));
  return v;
}

QStringList ItemTexts(const QComboBox* combo) {
  QStringList texts;
  for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
  return texts;
}

// A fake /dev and /sys with one USB adapter (by-id link and node), one
// 16550 port, one modem, and a ttyS port without a UART.
struct FakeDeviceTree {
  QTemporaryDir dir;
  QString dev;

  bool Make() {
    namespace fs = std::filesystem;
    if (!dir.isValid()) return false;
    const fs::path root = dir.path().toStdString();
    dev = QString::fromStdString((root / "dev").string());
    std::error_code error;
    fs::create_directories(root / "dev" / "serial" / "by-id", error);
    for (const char* node : {"ttyS0", "ttyS1", "ttyUSB0", "ttyACM0"}) {
      std::ofstream(root / "dev" / node) << "";
    }
    for (const auto& [port, type] : {std::pair{"ttyS0", "4\n"}, std::pair{"ttyS1", "0\n"}}) {
      fs::create_directories(root / "sys" / "class" / "tty" / port, error);
      std::ofstream(root / "sys" / "class" / "tty" / port / "type") << type;
    }
    fs::create_symlink("../../ttyUSB0",
                       root / "dev" / "serial" / "by-id" / "usb-FTDI_FT232R_A50285BI-if00-port0",
                       error);
    return !error;
  }
  SerialRoots Roots() const { return {dev.toStdString(), (dir.path() + "/sys").toStdString()}; }
  QString ById() const { return dev + "/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0"; }
};

constexpr char kGone[] = "/dev/serial/by-id/usb-Quarnex_Gone_0001-if00-port0";

PortDialogValues PortValues() {
  PortDialogValues values{1, 3, {}};
  PutDeviceEntry(&values.Map, {3, kGone, false});
  PutDeviceEntry(&values.Map, {7, "/dev/ttyS5", true});  // outside the range
  return values;
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void TestSettingsOpensWithTheRecord() {
    TestSettingsDialog dialog(Values(kTransmitOnly));
    QCOMPARE(dialog.windowTitle(), QString("Test Settings"));
    QCOMPARE(Child<QComboBox>(&dialog, "combo1016")->currentText(), QString("Transmit only"));
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1000")->text(), QString("3"));
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1003")->text(), QString("1024"));
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1013")->text(), QString("/data/file"));
    QCOMPARE(Child<QLabel>(&dialog, "label1020")->text(), QString("Transmit file: (Optional)"));
    QVERIFY(Child<QLineEdit>(&dialog, "edit1013")->isEnabled());
    QVERIFY(Child<QPushButton>(&dialog, "button1014")->isEnabled());
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1022")->text(), QString("4"));
    QCOMPARE(dialog.Values().Test.PortCount, 4);
    QCOMPARE(Child<UpDownEdit>(&dialog, "updown1021")->Maximum(), 128);
    QCOMPARE(Child<UpDownEdit>(&dialog, "updown1017")->Maximum(), 256);
    QCOMPARE(Child<UpDownEdit>(&dialog, "updown1019")->Maximum(), 65536);

    TestSettingsDialog loopback(Values(kLoopback));
    QVERIFY(!Child<QLineEdit>(&loopback, "edit1013")->isEnabled());
    QVERIFY(!Child<QPushButton>(&loopback, "button1014")->isEnabled());
    QVERIFY(!Child<QLabel>(&loopback, "label1020")->isEnabled());
    QCOMPARE(Child<QLabel>(&loopback, "label1020")->text(),
             QString("Compare with file: (Optional)"));
  }

  void ModeSelectionRelabelsAndEnables() {
    TestSettingsDialog dialog(Values(kLoopback));
    auto* mode = Child<QComboBox>(&dialog, "combo1016");
    auto* label = Child<QLabel>(&dialog, "label1020");
    mode->setCurrentIndex(kTransmitOnly);
    QCOMPARE(label->text(), QString("Transmit file: (Optional)"));
    QVERIFY(label->isEnabled() && Child<QLineEdit>(&dialog, "edit1013")->isEnabled());
    mode->setCurrentIndex(kReceiveOnly);
    QCOMPARE(label->text(), QString("Compare with file: (Optional)"));
    mode->setCurrentIndex(kLoopback);
    QVERIFY(!label->isEnabled());
    QCOMPARE(label->text(), QString("Compare with file: (Optional)"));  // keeps its text
  }

  void FieldsTakeDigitsOnlyAndArrowsStayInRange() {
    TestSettingsDialog dialog(Values(kLoopback));
    auto* port = Child<QLineEdit>(&dialog, "edit1000");
    port->clear();
    QTest::keyClicks(port, "2a5-6");
    QCOMPARE(port->text(), QString("256"));
    QTest::keyClick(port, Qt::Key_Up);
    QCOMPARE(port->text(), QString("256"));
    QTest::keyClick(port, Qt::Key_Down);
    QCOMPARE(port->text(), QString("255"));
    // A typed value out of range is kept until the arrows move it into it.
    port->setText("0");
    QTest::keyClick(port, Qt::Key_Up);
    QCOMPARE(port->text(), QString("2"));
    auto* packet = Child<QLineEdit>(&dialog, "edit1003");
    packet->setText("65535");
    QTest::keyClick(packet, Qt::Key_Up);
    QTest::keyClick(packet, Qt::Key_Up);
    QCOMPARE(packet->text(), QString("65536"));  // no thousands separator
  }

  void OkAppliesTheRules() {
    TestSettingsDialog dialog(Values(kTransmitOnly));
    // Values it cannot keep: OK says so beside each field and stays open.
    Child<QLineEdit>(&dialog, "edit1003")->setText("65537");
    Child<QLineEdit>(&dialog, "edit1000")->setText("990");
    Child<QLineEdit>(&dialog, "edit1022")->setText("20");
    Child<QPushButton>(&dialog, "button1")->click();
    QCOMPARE(dialog.result(), 0);
    QVERIFY(Child<QLabel>(&dialog, "problem1000")->isHidden());
    QCOMPARE(Child<QLabel>(&dialog, "problem1003")->text(), QString("1 to 65536"));
    QVERIFY(!Child<QLabel>(&dialog, "problem1003")->isHidden());
    QCOMPARE(Child<QLabel>(&dialog, "problem1022")->text(), QString("at most 10 from port 990"));
    QCOMPARE(dialog.Values().PacketSize, 1024);
    QCOMPARE(dialog.Values().Test.PortCount, 4);

    Child<QLineEdit>(&dialog, "edit1003")->setText("2048");
    Child<QLineEdit>(&dialog, "edit1000")->setText("12");
    Child<QLineEdit>(&dialog, "edit1013")->setText("/other");
    Child<QPushButton>(&dialog, "button1")->click();
    QCOMPARE(dialog.result(), 1);
    QVERIFY(Child<QLabel>(&dialog, "problem1003")->isHidden());
    QCOMPARE(dialog.Values().PacketSize, 2048);
    QCOMPARE(dialog.Values().Test.PortIndex, 12);
    QCOMPARE(dialog.Values().Test.PortCount, 20);
    QCOMPARE(dialog.Values().Test.Mode, int32_t{kTransmitOnly});
    QCOMPARE(QString(dialog.Values().Test.FileName), QString("/other"));
    QCOMPARE(int(dialog.Values().Test.FileNameLength), 6);

    // Loopback keeps the old name but stops using it; no entry gives -1.
    TestSettingsDialog loopback(Values(kTransmitOnly));
    Child<QComboBox>(&loopback, "combo1016")->setCurrentIndex(kLoopback);
    Child<QPushButton>(&loopback, "button1")->click();
    QCOMPARE(int(loopback.Values().Test.FileNameLength), 0);
    QCOMPARE(QString(loopback.Values().Test.FileName), QString("/data/file"));
    TestSettingsDialog none(Values(kReceiveOnly));
    Child<QComboBox>(&none, "combo1016")->setEditText("");
    Child<QPushButton>(&none, "button1")->click();
    QCOMPARE(none.Values().Test.Mode, kNoModeSelected);

    TestSettingsDialog cancelled(Values(kReceiveOnly));
    Child<QLineEdit>(&cancelled, "edit1003")->setText("77");
    Child<QPushButton>(&cancelled, "button2")->click();
    QCOMPARE(cancelled.result(), 2);
    QCOMPARE(cancelled.Values().PacketSize, 1024);
  }

  void FileChooserPicksAnExistingFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("send.bin");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();

    TestSettingsDialog dialog(Values(kTransmitOnly));
    QString title, filters;
    bool must_exist = false;
    QTimer::singleShot(0, [&] {
      auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (chooser == nullptr) return;
      title = chooser->windowTitle();
      filters = chooser->nameFilters().join(';');
      must_exist = chooser->fileMode() == QFileDialog::ExistingFile;
      chooser->selectFile(path);
      QMetaObject::invokeMethod(chooser, "accept");
    });
    Child<QPushButton>(&dialog, "button1014")->click();
    QCOMPARE(title, QString("Send File"));
    QCOMPARE(filters, QString("All files (*)"));
    QVERIFY(must_exist);
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1013")->text(), path);

    // A cancelled chooser leaves the field alone.
    Child<QLineEdit>(&dialog, "edit1013")->setText("/kept");
    QTimer::singleShot(0, [] {
      if (QWidget* chooser = QApplication::activeModalWidget())
        qobject_cast<QDialog*>(chooser)->reject();
    });
    Child<QPushButton>(&dialog, "button1014")->click();
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1013")->text(), QString("/kept"));
  }

  // What the machine offers, what is mapped, and what is missing, as the
  // user first sees it; Cancel hands the record back untouched.
  void PortDialogListsTheMachinesDevicesAndMarksMissingOnes() {
    FakeDeviceTree tree;
    QVERIFY(tree.Make());
    PortDialogValues values = PortValues();
    PutDeviceEntry(&values.Map, {2, tree.ById().toStdString(), true});
    PortDialogFacts facts;
    facts.found = ListSerialDevices(tree.Roots());
    facts.line.file_read = true;
    facts.line.bit_rate = 115200;
    facts.line.data_bits = 8;
    PortDialog dialog(values, facts);
    QCOMPARE(dialog.windowTitle(), QString("Port Settings"));
    QCOMPARE(Child<QLabel>(&dialog, "lineSettings")->text(),
             QString("115200 bit/s, 8 data bits, no parity, no flow control"));

    auto* table = Child<QTableWidget>(&dialog, "portTable");
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->item(0, 0)->text(), QString("Quarnex01"));
    QCOMPARE(table->item(2, 0)->text(), QString("Quarnex03"));
    const QStringList expected = {
        "Simulated adapter",
        "usb-FTDI_FT232R_A50285BI-if00-port0 (" + tree.dev + "/ttyUSB0)",
        tree.dev + "/ttyS0",
        tree.dev + "/ttyACM0",
        QString(kGone) + " (missing)",
    };
    for (int port = 1; port <= 3; ++port) {
      QCOMPARE(ItemTexts(Child<QComboBox>(&dialog, qPrintable(QString("device%1").arg(port)))),
               expected);
    }
    QCOMPARE(Child<QComboBox>(&dialog, "device1")->currentText(), QString("Simulated adapter"));
    QVERIFY(!Child<QCheckBox>(&dialog, "loop1")->isEnabled());
    QCOMPARE(Child<QComboBox>(&dialog, "device2")->currentText(), expected[1]);
    QVERIFY(Child<QCheckBox>(&dialog, "loop2")->isEnabled());
    QVERIFY(Child<QCheckBox>(&dialog, "loop2")->isChecked());
    QCOMPARE(Child<QComboBox>(&dialog, "device3")->currentText(), expected[4]);
    QVERIFY(!Child<QCheckBox>(&dialog, "loop3")->isChecked());

    Child<QComboBox>(&dialog, "device1")->setCurrentIndex(2);
    Child<QPushButton>(&dialog, "button2")->click();
    QCOMPARE(dialog.result(), 2);
    QCOMPARE(FormatDeviceMap(dialog.Values().Map), FormatDeviceMap(values.Map));

    // Without quarnex.cfg it says so, and what the run uses instead.
    PortDialogFacts unread;
    unread.line.problem = "quarnex.cfg: no such file";
    PortDialog empty(values, unread);
    QCOMPARE(Child<QLabel>(&empty, "lineSettings")->text(),
             QString("quarnex.cfg: no such file; the run uses an empty configuration:\n"
                     "no BitRate (unpaced; a serial port keeps its rate), 5 data bits, "
                     "no parity, no flow control"));
  }

  void PortDialogOkTakesTypedPathsAndRefusesWhatAMapCannotHold() {
    PortDialog dialog(PortValues(), PortDialogFacts{});
    auto* device1 = Child<QComboBox>(&dialog, "device1");
    auto* loop1 = Child<QCheckBox>(&dialog, "loop1");
    device1->setEditText("pts/5");
    QVERIFY(loop1->isEnabled());
    loop1->setChecked(true);
    auto* device3 = Child<QComboBox>(&dialog, "device3");
    QCOMPARE(ItemTexts(device3), QStringList({"Simulated adapter", QString(kGone) + " (missing)"}));
    device3->setEditText("");
    Child<QPushButton>(&dialog, "button1")->click();
    QCOMPARE(dialog.result(), 0);
    QVERIFY(!Child<QLabel>(&dialog, "problems")->isHidden());
    QCOMPARE(Child<QLabel>(&dialog, "problems")->text(),
             QString("Quarnex01: a device path starts with /\n"
                     "Quarnex03: choose a device or type its path"));
    QCOMPARE(FormatDeviceMap(dialog.Values().Map), FormatDeviceMap(PortValues().Map));

    // Back on the simulated adapter the tick goes: its ports have plugs.
    auto* device2 = Child<QComboBox>(&dialog, "device2");
    auto* loop2 = Child<QCheckBox>(&dialog, "loop2");
    device2->setEditText("/dev/ttyUSB3");
    loop2->setChecked(true);
    device2->setCurrentIndex(0);
    QVERIFY(!loop2->isEnabled());
    QVERIFY(!loop2->isChecked());
    device2->setEditText("  /dev/ttyUSB3 ");

    device1->setEditText("/dev/pts/5");
    device3->setCurrentIndex(1);
    Child<QPushButton>(&dialog, "button1")->click();
    QCOMPARE(dialog.result(), 1);
    QVERIFY(Child<QLabel>(&dialog, "problems")->isHidden());
    DeviceMap expected;
    PutDeviceEntry(&expected, {1, "/dev/pts/5", true});
    PutDeviceEntry(&expected, {2, "/dev/ttyUSB3", false});
    PutDeviceEntry(&expected, {3, kGone, false});  // missing, and kept
    PutDeviceEntry(&expected, {7, "/dev/ttyS5", true});
    QCOMPARE(FormatDeviceMap(dialog.Values().Map), FormatDeviceMap(expected));
  }

  void OptionsShowAndReadTheSettings() {
    TestSettings test = DefaultTestSettings();
    test.PauseAfter = 0;
    test.Delay = 15;
    OptionsDialog unlimited(test);
    QCOMPARE(unlimited.windowTitle(), QString("Options"));
    QVERIFY(!Child<QCheckBox>(&unlimited, "check1010")->isChecked());
    QCOMPARE(Child<QLineEdit>(&unlimited, "edit1006")->text(), QString());
    QCOMPARE(Child<QLineEdit>(&unlimited, "edit1018")->text(), QString("15"));
    QCOMPARE(Child<QLineEdit>(&unlimited, "edit1019")->text(), QString("500"));
    QVERIFY(Child<QCheckBox>(&unlimited, "check1011")->isChecked());

    // Checked with an empty count is refused beside the field, as are an
    // empty or too long delay.
    Child<QCheckBox>(&unlimited, "check1010")->setChecked(true);
    QTest::keyClicks(Child<QLineEdit>(&unlimited, "edit1006"), "x");
    QCOMPARE(Child<QLineEdit>(&unlimited, "edit1006")->text(), QString());
    Child<QLineEdit>(&unlimited, "edit1018")->setText("3600001");
    Child<QLineEdit>(&unlimited, "edit1019")->setText("0");
    Child<QCheckBox>(&unlimited, "check1011")->setChecked(false);
    Child<QPushButton>(&unlimited, "button1")->click();
    QCOMPARE(unlimited.result(), 0);
    QCOMPARE(Child<QLabel>(&unlimited, "problem1006")->text(), QString("1 to 2147483647"));
    QCOMPARE(Child<QLabel>(&unlimited, "problem1018")->text(), QString("0 to 3600000"));
    QVERIFY(Child<QLabel>(&unlimited, "problem1019")->isHidden());
    Child<QCheckBox>(&unlimited, "check1010")->setChecked(false);
    Child<QLineEdit>(&unlimited, "edit1018")->setText("15");
    Child<QPushButton>(&unlimited, "button1")->click();
    QCOMPARE(unlimited.result(), 1);
    QCOMPARE(unlimited.Values().PauseAfter, 0);
    QCOMPARE(unlimited.Values().UpdateInterval, 0u);
    QCOMPARE(unlimited.Values().TimeoutBlockedThreads, 0);

    test.PauseAfter = 25;
    OptionsDialog limited(test);
    QVERIFY(Child<QCheckBox>(&limited, "check1010")->isChecked());
    QCOMPARE(Child<QLineEdit>(&limited, "edit1006")->text(), QString("25"));
    Child<QCheckBox>(&limited, "check1010")->setChecked(false);
    Child<QPushButton>(&limited, "button2")->click();
    QCOMPARE(limited.result(), 2);
    QCOMPARE(limited.Values().PauseAfter, 25);
  }

  // The Prometheus endpoint: shown as stored, a bad address refused beside
  // its field with what it takes, Cancel keeping the setting as opened.
  void OptionsShowAndReadTheMetricsSetting() {
    OptionsDialog dialog(DefaultTestSettings(), MetricsSetting{true, "0.0.0.0:9100"});
    auto* serve = Child<QCheckBox>(&dialog, "check1080");
    auto* address = Child<QLineEdit>(&dialog, "edit1081");
    QCOMPARE(serve->isChecked(), WindowMetrics::Available());
    QCOMPARE(address->text(), QString("0.0.0.0:9100"));
    QVERIFY(Child<QLabel>(&dialog, "problem1081")->isHidden());

    address->setText("localhost:9100");
    Child<QPushButton>(&dialog, "button1")->click();
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(Child<QLabel>(&dialog, "problem1081")->text(),
             QString("use ADDRESS:PORT such as 127.0.0.1:9464, 0.0.0.0:9464 or [::1]:9464 "
                     "(port 0: any free)"));
    QCOMPARE(dialog.Metrics(), (MetricsSetting{true, "0.0.0.0:9100"}));
    address->setText(" [::1]:0 ");
    serve->setChecked(false);
    Child<QPushButton>(&dialog, "button1")->click();
    QCOMPARE(dialog.result(), 1);
    QCOMPARE(dialog.Metrics(), (MetricsSetting{false, "[::1]:0"}));

    OptionsDialog cancelled(DefaultTestSettings(), MetricsSetting{false, "127.0.0.1:9464"});
    Child<QCheckBox>(&cancelled, "check1080")->setChecked(true);
    Child<QLineEdit>(&cancelled, "edit1081")->setText("10.0.0.1:1");
    Child<QPushButton>(&cancelled, "button2")->click();
    QCOMPARE(cancelled.Metrics(), (MetricsSetting{false, "127.0.0.1:9464"}));
  }

  void TimeoutsDefaultsChangeOnlyTheFields() {
    TimeoutsDialog dialog(TimeoutSettings{7, 9});
    QCOMPARE(dialog.windowTitle(), QString("Timeouts"));
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1059")->text(), QString("7"));
    Child<QPushButton>(&dialog, "button1030")->click();
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1059")->text(), QString("1000"));
    QCOMPARE(Child<QLineEdit>(&dialog, "edit1060")->text(), QString("0"));
    QCOMPARE(dialog.Values().ReadTotalTimeoutMultiplier, 7u);
    Child<QPushButton>(&dialog, "button2")->click();
    QCOMPARE(dialog.Values().ReadTotalTimeoutMultiplier, 7u);

    TimeoutsDialog confirmed(TimeoutSettings{7, 9});
    Child<QPushButton>(&confirmed, "button1030")->click();
    Child<QLineEdit>(&confirmed, "edit1060")->setText("33ms");
    Child<QPushButton>(&confirmed, "button1")->click();
    QCOMPARE(confirmed.result(), 0);
    QCOMPARE(Child<QLabel>(&confirmed, "problem1060")->text(), QString("0 to 4294967295"));
    Child<QLineEdit>(&confirmed, "edit1060")->setText("33");
    Child<QPushButton>(&confirmed, "button1")->click();
    QCOMPARE(confirmed.result(), 1);
    QCOMPARE(confirmed.Values().ReadTotalTimeoutMultiplier, 1000u);
    QCOMPARE(confirmed.Values().ReadTotalTimeoutConstant, 33u);
  }

  // The tooltips say what the blocked-transfer timeout adds up, with the
  // defaults "&Defaults" restores, each field under its own name.
  void TimeoutToolTipsNameBothValuesAndTheirDefaults() {
    OptionsDialog options(DefaultTestSettings());
    const QString check_tip = Child<QCheckBox>(&options, "check1011")->toolTip().simplified();
    for (const char* named :
         {"Read Total Timeout Constant", "Read Total Timeout Multiplier", "Settings > Timeouts",
          "twice the ideal packet time", "Unchecked: reads and writes wait as long as they take"}) {
      QVERIFY2(check_tip.contains(named), qPrintable(named + (": " + check_tip)));
    }
    const QString defaults = QString("by default %1 and %2 ms")
                                 .arg(kDefaultTimeouts.ReadTotalTimeoutConstant)
                                 .arg(kDefaultTimeouts.ReadTotalTimeoutMultiplier);
    QVERIFY2(check_tip.contains(defaults), qPrintable(check_tip));

    struct Field {
      const char* edit;
      const char* label;
      const char* own;
      const char* other;
      uint32_t default_ms;
    };
    const Field fields[] = {
        {"edit1059", "Read Total Timeout Multipler:", "Read Total Timeout Multiplier",
         "Read Total Timeout Constant", kDefaultTimeouts.ReadTotalTimeoutMultiplier},
        {"edit1060", "Read Total Timeout Constant:", "Read Total Timeout Constant",
         "Read Total Timeout Multiplier", kDefaultTimeouts.ReadTotalTimeoutConstant},
    };
    TimeoutsDialog dialog(TimeoutSettings{7, 9});
    for (const Field& f : fields) {
      const QString tip = Child<QLineEdit>(&dialog, f.edit)->toolTip().simplified();
      QVERIFY2(tip.startsWith(QString("%1 in ms (default %2)").arg(f.own).arg(f.default_ms)),
               qPrintable(tip));
      QVERIFY2(tip.contains(QString("%1 + %2").arg(f.own, f.other)), qPrintable(tip));
      QVERIFY2(tip.contains("\"Timeout Blocked Threads\""), qPrintable(tip));
      QVERIFY2(tip.contains("wait as long as they take"), qPrintable(tip));
      // The label beside the field explains the same value.
      QLabel* label = nullptr;
      for (QLabel* candidate : dialog.findChildren<QLabel*>()) {
        if (candidate->text() == f.label) label = candidate;
      }
      QVERIFY2(label != nullptr, f.label);
      QCOMPARE(label->toolTip().simplified(), tip);
    }
  }

  void ReceivedDataShowsASnapshot() {
    PortContext port;
    QCOMPARE(TakeReceivedSnapshot(port), std::string());
    {
      std::lock_guard<std::mutex> lock(port.ReceiveMutex);
      port.LastData = {'A', 'B', 'C', 'D', 0, 'E'};
    }
    port.LastNonEmptyReadLength = 3;
    QCOMPARE(TakeReceivedSnapshot(port), std::string("ABC"));
    port.LastNonEmptyReadLength = 6;
    QCOMPARE(TakeReceivedSnapshot(port), std::string("ABCD"));
    port.LastNonEmptyReadLength = 4096;  // a longer length never reads past the data
    QCOMPARE(TakeReceivedSnapshot(port), std::string("ABCD"));

    ReceivedDataDialog dialog("line\xE9");
    QCOMPARE(dialog.windowTitle(), QString("Received data"));
    auto* view = Child<QPlainTextEdit>(&dialog, "edit1015");
    QCOMPARE(view->toPlainText(), QString::fromLatin1("line\xE9"));
    QVERIFY(!view->isReadOnly());
    QVERIFY(Child<QPlainTextEdit>(&dialog, "firstMismatch")->isHidden());
    Child<QPushButton>(&dialog, "button1")->click();
    QCOMPARE(dialog.result(), 1);
  }

  // The first mismatch shows below the received text, never in it.
  void ReceivedDataShowsTheFirstMismatch() {
    PortContext port;
    QCOMPARE(FirstMismatchSnapshot(port), std::string());
    MismatchExcerpt excerpt;
    excerpt.Offset = 0;
    excerpt.ExpectedLength = excerpt.ReceivedLength = 3;
    excerpt.Expected = {0x41, 0x42, 0x43};
    excerpt.Received = {0x41, 0x02, 0x43};
    NoteFirstMismatch(port, MismatchKind::kData, 4, 1, excerpt);
    const std::string text = FirstMismatchSnapshot(port);
    QCOMPARE(text, std::string("First mismatch: packet 4, byte 1\n"
                               "expected from byte 0: 41 42 43\n"
                               "received from byte 0: 41 02 43"));
    ReceivedDataDialog dialog("ABC", text);
    QCOMPARE(Child<QPlainTextEdit>(&dialog, "edit1015")->toPlainText(), QString("ABC"));
    auto* mismatch = Child<QPlainTextEdit>(&dialog, "firstMismatch");
    QVERIFY(!mismatch->isHidden());
    QVERIFY(mismatch->isReadOnly());
    QCOMPARE(mismatch->toPlainText().toStdString(), text);
  }

  void AboutClosesWithOneOnEscapeToo() {
    AboutDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("About Loopback Tester"));
    QStringList texts;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) texts << label->text();
    }
    QCOMPARE(texts, QStringList({"ZVL Quarnex Tester", "Version 1.93"}));
    QVERIFY(!Child<QLabel>(&dialog, "icon105")->pixmap().isNull());
    QCOMPARE(Child<QPushButton>(&dialog, "button1")->text(), QString("Close"));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), 1);

    AboutDialog closed;
    closed.show();
    Child<QPushButton>(&closed, "button1")->click();
    QVERIFY(!closed.isVisible());
    QCOMPARE(closed.result(), 1);
  }
};

}  // namespace quarnex

QTEST_MAIN(quarnex::DialogsTest)
#include "dialogs_test.moc"
