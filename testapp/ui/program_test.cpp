// The program itself: "start" as the only argument starts a run as soon as
// the window shows; any other command line does not. SIGTERM, SIGINT and
// SIGHUP end it as closing the window does.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdint>

#include "testapp/settings/qsettings_store.h"
#include "testapp/settings/records.h"
#include "testapp/ui/stop_record_test_util.h"

namespace quarnex {
namespace {

QString ReadLog(const QString& dir) {
  QFile file(QDir(dir).filePath("Quarnex.LOG"));
  return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

}  // namespace

class ProgramTest : public QObject {
  Q_OBJECT

 private:
  // Runs the program with `arguments` in a fresh folder until its log
  // exists (the window has been created), waits `settle_ms` more, and
  // stores the log in *log.
  void RunProgram(const QStringList& arguments, int settle_ms, bool wait_for_start, QString* log) {
    QTemporaryDir dir;
    QFile config(dir.filePath("quarnex.cfg"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("TxCharacterSize=3\nBitRate=115200\n");
    config.close();
    QProcess program;
    program.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(qEnvironmentVariable("QUARNEX_TESTER"), arguments);
    QVERIFY(program.waitForStarted());
    if (wait_for_start) {
      QTRY_VERIFY_WITH_TIMEOUT(ReadLog(dir.path()).contains(">>> TEST START"), 30000);
    } else {
      QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("Quarnex.LOG")), 30000);
      QTest::qWait(settle_ms);
    }
    *log = ReadLog(dir.path());
    program.kill();
    program.waitForFinished();
  }

 private slots:
  void StartArgumentStartsARun() {
    QString log;
    RunProgram({"start"}, 0, true, &log);
    QVERIFY(log.contains(">>> TEST START"));
  }

  void ASignalEndsTheProgramAsClosingTheWindowDoes_data() {
    QTest::addColumn<int>("signo");
    QTest::newRow("SIGTERM") << int{SIGTERM};
    QTest::newRow("SIGINT") << int{SIGINT};
    QTest::newRow("SIGHUP") << int{SIGHUP};
  }

  void ASignalEndsTheProgramAsClosingTheWindowDoes() {
    QFETCH(int, signo);
    constexpr int kPorts = 8;
    QTemporaryDir dir;
    QFile config(dir.filePath("quarnex.cfg"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("TxCharacterSize=3\nBitRate=115200\n");
    config.close();
    // The stored settings give the run its eight ports; nothing else is
    // stored, so what the close saves can be told apart.
    const QString settings_file = dir.filePath("config/ZVL/QuarnexTest.conf");
    {
      QSettingsStore store(settings_file);
      TestSettings test = DefaultTestSettings();
      test.PortIndex = 1;
      test.PortCount = kPorts;
      uint8_t image[sizeof(TestSettings)];
      EncodeTestSettings(test, image);
      QVERIFY(store.WriteBinary("Test", image, sizeof(image)));
      QVERIFY(store.Sync());
    }
    QVERIFY(!QSettings(settings_file, QSettings::IniFormat).contains("Width"));

    QProcess program;
    program.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QUARNEX_SIM", QString("ports=1-%1").arg(kPorts));
    program.setProcessEnvironment(env);
    program.start(qEnvironmentVariable("QUARNEX_TESTER"), {"start"});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(ReadLog(dir.path()).contains(">>> TEST START"), 30000);
    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), signo), 0);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    const QString log = ReadLog(dir.path());
    QCOMPARE(log.count(">>> TEST STOP"), 1);
    QStringList every_port;
    for (int port = 1; port <= kPorts; ++port) every_port << QString("[COM%1]").arg(port);
    QCOMPARE(LastStopRecordPorts(log), every_port);
    const QSettings saved(settings_file, QSettings::IniFormat);
    for (const char* name : {"Test", "Port", "Packet", "Timeouts", "Width", "Column0"}) {
      QVERIFY2(saved.contains(name), name);
    }
  }

  void OtherCommandLinesDoNot() {
    for (const QStringList& arguments :
         {QStringList{}, QStringList{"Start"}, QStringList{"START"}, QStringList{"start", "now"}}) {
      QString log = "not run";
      RunProgram(arguments, 1500, false, &log);
      QVERIFY2(!log.contains("TEST START") && log != "not run", qPrintable(arguments.join(' ')));
    }
  }
};

}  // namespace quarnex

QTEST_GUILESS_MAIN(quarnex::ProgramTest)
#include "program_test.moc"
