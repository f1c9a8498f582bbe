// The program itself: "start" as the only argument starts a run as soon as
// the window shows; any other command line does not.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

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
