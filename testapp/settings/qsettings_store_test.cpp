// QSettingsStore against a temporary XDG_CONFIG_HOME. A restart is a real
// one: the test binary runs itself again to read the file fresh, as the
// next launch of the program does (within one process QSettings caches the
// values it wrote).
#include "testapp/settings/qsettings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <cstring>

#include "testapp/driver/device_map.h"
#include "testapp/settings/device_map_store.h"
#include "testapp/settings/memory_store.h"
#include "testapp/settings/settings_io.h"

namespace quarnex {
namespace {

constexpr char kChildFlag[] = "--read-store";

// Child mode: prints each binary value "b NAME HEX" and 32-bit value
// "u NAME VALUE" (or "missing") as a fresh process reads them.
int ReadStoreChild(int argc, char** argv) {
  QSettingsStore store;
  for (int i = 2; i + 1 < argc; i += 2) {
    const char* kind = argv[i];
    const char* name = argv[i + 1];
    if (std::strcmp(kind, "b") == 0) {
      QByteArray buffer(70000, '\0');
      size_t taken = 0;
      if (store.ReadBinary(name, buffer.data(), buffer.size(), &taken)) {
        std::printf("b %s %s\n", name,
                    buffer.left(static_cast<qsizetype>(taken)).toHex().constData());
      } else {
        std::printf("b %s missing\n", name);
      }
    } else {
      uint32_t value = 0;
      if (store.ReadU32(name, &value)) {
        std::printf("u %s %u\n", name, value);
      } else {
        std::printf("u %s missing\n", name);
      }
    }
  }
  return 0;
}

// Runs the child and returns its lines.
QStringList ReadInFreshProcess(const QStringList& kinds_and_names) {
  QProcess child;
  child.start(QCoreApplication::applicationFilePath(), QStringList{kChildFlag} + kinds_and_names);
  if (!child.waitForFinished(30000)) return {};
  return QString::fromLatin1(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QByteArray AllByteValues() {
  QByteArray bytes;
  for (int i = 0; i < 256; ++i) bytes.append(static_cast<char>(i));
  return bytes;
}

}  // namespace

class QSettingsStoreTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QFile::remove(QSettingsStore().FileName()); }

  void LivesUnderXdgConfigHome() {
    const QString expected =
        QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("ZVL/QuarnexTest.conf");
    QCOMPARE(QSettingsStore().FileName(), expected);
  }

  void ValuesSurviveARestartByteForByte() {
    const QByteArray bytes = AllByteValues() + QByteArray(3, '\0') + AllByteValues();
    {
      QSettingsStore store;
      QVERIFY(store.WriteBinary("Blob", bytes.constData(), bytes.size()));
      QVERIFY(store.WriteBinary("Empty", "", 0));
      QVERIFY(store.WriteU32("Zero", 0));
      QVERIFY(store.WriteU32("High", 0x80000000u));
      QVERIFY(store.WriteU32("Max", 0xFFFFFFFFu));
    }
    const QStringList lines =
        ReadInFreshProcess({"b", "Blob", "b", "Empty", "u", "Zero", "u", "High", "u", "Max", "b",
                            "Absent", "u", "Absent"});
    const QStringList expected = {"b Blob " + QString::fromLatin1(bytes.toHex()),
                                  "b Empty ",
                                  "u Zero 0",
                                  "u High 2147483648",
                                  "u Max 4294967295",
                                  "b Absent missing",
                                  "u Absent missing"};
    QCOMPARE(lines, expected);
  }

  void SettingsRecordsSurviveARestart() {
    Settings saved{};
    {
      MemoryStore empty;
      LoadSettings(empty, &saved);
    }
    saved.Test.PortIndex = 7;
    saved.Test.Mode = kTransmitOnly;
    std::strcpy(saved.Test.FileName, "/tmp/some file");
    saved.Test.FileNameLength = 14;
    saved.Test.UpdateInterval = 0;
    saved.Port.Parity = 9;
    saved.PacketSize = 65536;
    saved.Timeouts = {12345, 0xFFFFFFFFu};
    struct FixedLayout : WindowLayoutSource {
      bool IsMinimized() const override { return false; }
      bool GetScreenRect(ScreenRect* r) const override {
        *r = {40, 30, 40 + 700, 30 + 350};
        return true;
      }
      uint32_t ColumnWidth(int column) const override {
        return 50u + static_cast<uint32_t>(column);
      }
    };
    {
      QSettingsStore store;
      SaveSettings(store, saved, FixedLayout());
    }
    uint8_t image[sizeof(TestSettings)];
    EncodeTestSettings(saved.Test, image);
    const QStringList lines =
        ReadInFreshProcess({"b", "Test", "b", "Packet", "u", "Left", "u", "Top", "u", "Width", "u",
                            "Height", "u", "Column5"});
    QCOMPARE(lines.value(0),
             "b Test " + QString::fromLatin1(
                             QByteArray(reinterpret_cast<char*>(image), sizeof(image)).toHex()));
    QCOMPARE(lines.value(1), QString("b Packet 00000100"));
    QCOMPARE(lines.mid(2),
             QStringList({"u Left 40", "u Top 30", "u Width 700", "u Height 350", "u Column5 55"}));

    // And loaded in this process through the store interface.
    QSettingsStore store;
    Settings loaded{};
    LoadSettings(store, &loaded);
    QVERIFY(std::memcmp(&loaded.Test, &saved.Test, sizeof(TestSettings)) == 0);
    QVERIFY(std::memcmp(&loaded.Port, &saved.Port, sizeof(PortSettings)) == 0);
    QCOMPARE(loaded.PacketSize, 65536);
    QCOMPARE(loaded.Timeouts.ReadTotalTimeoutConstant, 0xFFFFFFFFu);
  }

  // The map's text holds what an INI file treats specially: "," (a list),
  // "=", quotes, backslashes, blanks and non-ASCII names.
  void TheDeviceMapSurvivesARestart() {
    DeviceMap map;
    PutDeviceEntry(&map, {1, "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0", true});
    PutDeviceEntry(&map, {2, "/tmp/my ports/a=b,c;\"d\"\\e", false});
    PutDeviceEntry(&map, {128, "/dev/serial/by-id/usb-Gr\xc3\xbcn_Adapter-if00", true});
    {
      QSettingsStore store;
      QVERIFY(SaveDeviceMap(store, map));
    }
    const std::string text = FormatDeviceMap(map);
    QCOMPARE(ReadInFreshProcess({"b", "DeviceMap"}),
             QStringList(
                 {"b DeviceMap " + QString::fromLatin1(QByteArray::fromStdString(text).toHex())}));
    QSettingsStore store;
    QCOMPARE(FormatDeviceMap(LoadDeviceMap(store)), text);
  }

  // Typed by hand without the quotes QSettings writes, ",loop" makes the
  // value a list: not believed, so no map rather than a wrong one.
  void AHandWrittenDeviceMapWithACommaIsNotBelieved() {
    const QString path = QSettingsStore().FileName();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nDeviceMap=@ByteArray(1=/dev/ttyUSB0\\n2=/dev/ttyS0,loop\\n)\n");
    file.close();
    QSettingsStore store;
    QCOMPARE(FormatDeviceMap(LoadDeviceMap(store)), std::string());
  }

  void ReadBinaryNeverWritesPastSize() {
    const QByteArray bytes = AllByteValues();
    QSettingsStore store;
    store.WriteBinary("Long", bytes.constData(), bytes.size());
    uint8_t buffer[12];
    std::memset(buffer, 0xEE, sizeof(buffer));
    size_t taken = 0;
    QVERIFY(store.ReadBinary("Long", buffer, 8, &taken));
    QCOMPARE(taken, size_t{8});
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 8), bytes.left(8));
    for (int i = 8; i < 12; ++i) QCOMPARE(buffer[i], uint8_t{0xEE});

    // Missing: false, buffer untouched.
    QVERIFY(!store.ReadBinary("Nothing", buffer, sizeof(buffer), &taken));
    QCOMPARE(buffer[0], uint8_t{0});
  }

  void HandWrittenValues() {
    const QString path = QSettingsStore().FileName();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nWidth=640\nLeft=-20\nTop=abc\nText=hello\nBlob=@ByteArray(A\\0B)\n");
    file.close();
    const QStringList lines = ReadInFreshProcess({"u", "Width", "u", "Left", "u", "Top", "u",
                                                  "Blob", "b", "Text", "b", "Blob", "b", "Width"});
    QCOMPARE(lines, QStringList({"u Width 640", "u Left missing", "u Top missing", "u Blob missing",
                                 "b Text missing", "b Blob 410042", "b Width missing"}));
  }

  // A byte array cut in the file reads as a string, and a number in place
  // of a record is no image either: both leave the defaults. A whole image
  // with fields out of range loads in range. The next save repairs all.
  void DamagedRecordsAreNotBelievedAndTheNextSaveRepairsThem() {
    const QString path = QSettingsStore().FileName();
    QDir().mkpath(QFileInfo(path).path());
    Settings wild{};
    {
      MemoryStore empty;
      LoadSettings(empty, &wild);
    }
    wild.Test.PortIndex = 1954103872;
    wild.Test.PortCount = -5;
    wild.Test.Delay = 0xFFFFFFFFu;
    uint8_t image[sizeof(TestSettings)];
    EncodeTestSettings(wild.Test, image);
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue("Test", QByteArray(reinterpret_cast<char*>(image), sizeof(image)));
    ini.sync();
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write("Port=42\nPacket=@ByteArray(\\0\\0\nTimeouts=@ByteArray(\n");
    file.close();

    Settings loaded{};
    {
      QSettingsStore store;
      LoadSettings(store, &loaded);
    }
    QCOMPARE(loaded.Test.PortIndex, kMaxPortIndex);
    QCOMPARE(loaded.Test.PortCount, 1);
    QCOMPARE(loaded.Test.Delay, kMaxDelayMs);
    QCOMPARE(loaded.Port.BaudRate, DefaultPortSettings().BaudRate);
    QCOMPARE(loaded.PacketSize, kDefaultPacketSize);
    QCOMPARE(loaded.Timeouts.ReadTotalTimeoutMultiplier,
             kDefaultTimeouts.ReadTotalTimeoutMultiplier);

    struct NoWindow : WindowLayoutSource {
      bool IsMinimized() const override { return true; }
      bool GetScreenRect(ScreenRect*) const override { return false; }
      uint32_t ColumnWidth(int) const override { return 0; }
    };
    {
      QSettingsStore store;
      SaveSettings(store, loaded, NoWindow());
    }
    const QStringList lines = ReadInFreshProcess({"b", "Port", "b", "Packet"});
    uint8_t port[sizeof(PortSettings)];
    EncodePortSettings(DefaultPortSettings(), port);
    const QByteArray port_hex = QByteArray(reinterpret_cast<char*>(port), sizeof(port)).toHex();
    QCOMPARE(lines, QStringList({"b Port " + QString::fromLatin1(port_hex), "b Packet 00040000"}));
    QSettingsStore store;
    Settings reloaded{};
    LoadSettings(store, &reloaded);
    QVERIFY(std::memcmp(&reloaded.Test, &loaded.Test, sizeof(TestSettings)) == 0);
  }
};

}  // namespace quarnex

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], quarnex::kChildFlag) == 0) {
    QCoreApplication app(argc, argv);
    return quarnex::ReadStoreChild(argc, argv);
  }
  // Every store of this test, the children's too, lives in a folder of its
  // own.
  QTemporaryDir config;
  if (!config.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QCoreApplication app(argc, argv);
  quarnex::QSettingsStoreTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qsettings_store_test.moc"
