// The dialogs driven through their widgets: what each shows when it opens
// and what it hands back.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstring>

#include "testapp/ui/about_dialog.h"
#include "testapp/ui/options_dialog.h"
#include "testapp/ui/received_data_dialog.h"
#include "testapp/ui/test_settings_dialog.h"
#include "testapp/ui/timeouts_dialog.h"

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
    Child<QPushButton>(&dialog, "button1")->click();
    QCOMPARE(dialog.result(), 1);
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
