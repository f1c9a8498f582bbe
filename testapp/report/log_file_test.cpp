#include "testapp/report/log_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/platform/posix_test_compat.h"
#include "testapp/platform/test_support.h"

#if !defined(_WIN32)
#include "testapp/report/file_size_limit_test_util.h"
#endif

namespace quarnex {
namespace {

// "Tue Dec 08 22:13:04 2026": an upper-case letter (A), lower-case (a),
// digit (9) or the character itself at each place.
constexpr std::string_view kTimestampShape = "Aaa Aaa 99 99:99:99 9999";
constexpr size_t kTimestampLength = kTimestampShape.size();

// True when `text` starts with a timestamp line followed by the record's
// two blank lines.
bool IsTimestampLine(std::string_view text) {
  if (text.size() < kTimestampLength + 6) return false;
  for (size_t i = 0; i < kTimestampLength; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const char want = kTimestampShape[i];
    const bool ok = want == 'A'   ? std::isupper(c) != 0
                    : want == 'a' ? std::islower(c) != 0
                    : want == '9' ? std::isdigit(c) != 0
                                  : c == static_cast<unsigned char>(want);
    if (!ok) return false;
  }
  return text.substr(kTimestampLength, 6) == "\r\n\r\n\r\n";
}

namespace fs = std::filesystem;

constexpr std::time_t kStartTime = 1796767984;  // Tue Dec 08 22:13:04 2026 UTC
constexpr std::time_t kStopTime = 1799478359;   // Sat Jan 09 07:05:59 2027 UTC

// One port at 9600 bit/s, 8 bits, no parity, one stop bit, Rts/Cts.
constexpr char kGoldenStart[] =
    "\r\n\r\n\r\n>>> TEST START: Tue Dec 08 22:13:04 2026\r\n\r\n\r\n"
    "\r\n*** TEST PARAMETERS ***\r\n\r\n"
    "Number of ports:     1\r\n"
    "Packet size (bytes): 1024\r\n"
    "\r\n*** PORT SETTINGS ***\r\n\r\n"
    "Speed (bps):         9600\r\n"
    "Byte size:           8\r\n"
    "Parity:              No parity\r\n"
    "Number of stop bits: 1\r\n"
    "Flow control:        Rts/Cts\r\n";

// Port 1: 10 packets, 8 good in 805.3 ms, 2 data mismatches. Port 3: every
// packet failed, so it has no packet-time line. Port 2 never opened.
constexpr char kGoldenStop[] =
    "\r\n\r\n[COM1]\r\n"
    "Number of packets: 10\r\n"
    "Packet time (ms):  100\r\n"
    "Number of Errors:  2\r\n"
    "  Write failed:    0\r\n"
    "  Write aborted:   0\r\n"
    "  Read failed:     0\r\n"
    "  Read aborted:    0\r\n"
    "  Length mismatch: 0\r\n"
    "  Data mismatch:   2\r\n"
    "\r\n\r\n[COM3]\r\n"
    "Number of packets: 4\r\n"
    "Number of Errors:  4\r\n"
    "  Write failed:    1\r\n"
    "  Write aborted:   0\r\n"
    "  Read failed:     0\r\n"
    "  Read aborted:    1\r\n"
    "  Length mismatch: 2\r\n"
    "  Data mismatch:   0\r\n"
    "\r\n\r\n\r\n>>> TEST STOP: Sat Jan 09 07:05:59 2027\r\n\r\n\r\n";

TestSettings OnePortSettings() {
  TestSettings settings = {};
  settings.PortIndex = 1;
  settings.PortCount = 1;
  return settings;
}

PortSettings LineSettings(uint8_t parity, uint8_t stop_bits, int32_t flow_control) {
  return PortSettings{9600, 8, parity, stop_bits, 0, flow_control};
}

std::vector<PortCounters> GoldenPorts() {
  PortCounters first;
  first.PortNumber = 1;
  first.PacketCount = 10;
  first.GoodPacketCount = 8;
  first.ErrorCount = 2;
  first.DataMismatchCount = 2;
  first.TotalPacketTime = 805.3;
  PortCounters third;
  third.PortNumber = 3;
  third.PacketCount = 4;
  third.ErrorCount = 4;
  third.WriteFailedCount = 1;
  third.ReadAbortedCount = 1;
  third.LengthMismatchCount = 2;
  return {first, third};
}

// Each test gets its own folder and local time fixed to UTC, so the
// timestamps of the golden texts hold on any machine.
class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.made());
    path_ = (dir_.path() / kLogFileName).string();
    if (const char* tz = getenv("TZ")) saved_tz_ = tz;
    had_tz_ = getenv("TZ") != nullptr;
    setenv("TZ", "UTC0", 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  std::string ReadLog() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  TempFolder dir_{"quarnex_log_"};
  std::string path_;
  std::string saved_tz_;
  bool had_tz_ = false;
};

TEST_F(LogFileTest, StartAndStopRecordsByteForByteAndFlushedAtOnce) {
  LogFile log;
  ASSERT_TRUE(log.Open(path_.c_str()));
  WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
  // Read back while the log is still open: each record is on disk already.
  EXPECT_EQ(ReadLog(), kGoldenStart);
  WriteStopRecord(log, GoldenPorts(), kStopTime);
  EXPECT_EQ(ReadLog(), std::string(kGoldenStart) + kGoldenStop);
}

TEST_F(LogFileTest, StartRecordEndsWithTheLinesThatRunAtAnotherRate) {
  LogFile log;
  ASSERT_TRUE(log.Open(path_.c_str()));
  WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2),
                   {"Quarnex01: the line runs at 115384 bit/s, not the 115200 bit/s of BitRate",
                    "Quarnex03: the line runs at 111111 bit/s, not the 115200 bit/s of BitRate"},
                   kStartTime);
  EXPECT_EQ(ReadLog(),
            std::string(kGoldenStart) +
                "\r\nQuarnex01: the line runs at 115384 bit/s, not the 115200 bit/s of BitRate\r\n"
                "Quarnex03: the line runs at 111111 bit/s, not the 115200 bit/s of BitRate\r\n");
}

TEST_F(LogFileTest, RecordsAppendInOrderAfterEarlierLaunches) {
  const std::string earlier = "text of an earlier launch\r\n";
  std::ofstream(path_, std::ios::binary) << earlier;
  {
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str()));
    for (int cycle = 0; cycle < 2; ++cycle) {
      WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
      WriteStopRecord(log, GoldenPorts(), kStopTime);
    }
  }
  const std::string cycle = std::string(kGoldenStart) + kGoldenStop;
  EXPECT_EQ(ReadLog(), earlier + cycle + cycle);
}

TEST_F(LogFileTest, PortSettingTexts) {
  // An unknown value writes nothing, so the next label continues its line;
  // flow control is taken as unsigned, so -1 is unknown too.
  const struct {
    uint8_t parity, stop_bits;
    int32_t flow_control;
    const char* tail;
  } kCases[] = {
      {1, 1, 0,
       "Parity:              Odd\r\nNumber of stop bits: 1.5\r\nFlow control:        No Flow\r\n"},
      {2, 2, 1,
       "Parity:              Even\r\nNumber of stop bits: 2\r\nFlow control:        Xon/Xoff\r\n"},
      {3, 0, 3,
       "Parity:              Mark\r\nNumber of stop bits: 1\r\nFlow control:        Dtr/Dsr\r\n"},
      {4, 0, 4,
       "Parity:              Space\r\nNumber of stop bits: 1\r\nFlow control:        Rts "
       "control\r\n"},
      {7, 0, 2, "Parity:              Number of stop bits: 1\r\nFlow control:        Rts/Cts\r\n"},
      {0, 3, 2,
       "Parity:              No parity\r\nNumber of stop bits: Flow control:        Rts/Cts\r\n"},
      {0, 0, 9,
       "Parity:              No parity\r\nNumber of stop bits: 1\r\nFlow control:        "},
      {0, 0, -1,
       "Parity:              No parity\r\nNumber of stop bits: 1\r\nFlow control:        "},
  };
  for (const auto& c : kCases) {
    fs::remove(path_);
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str()));
    WriteStartRecord(log, OnePortSettings(), 1024,
                     LineSettings(c.parity, c.stop_bits, c.flow_control), {}, kStartTime);
    const std::string text = ReadLog();
    const size_t tail_at = text.find("Parity:");
    ASSERT_NE(tail_at, std::string::npos);
    EXPECT_EQ(text.substr(tail_at), c.tail) << "parity " << int{c.parity} << " stop bits "
                                            << int{c.stop_bits} << " flow " << c.flow_control;
  }
}

TEST_F(LogFileTest, UnknownFlowControlLeavesTheStopRecordOnItsLine) {
  LogFile log;
  ASSERT_TRUE(log.Open(path_.c_str()));
  WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 9), {}, kStartTime);
  WriteStopRecord(log, {}, kStopTime);
  EXPECT_NE(ReadLog().find("Number of stop bits: 1\r\nFlow control:        \r\n\r\n\r\n"
                           ">>> TEST STOP: Sat Jan 09 07:05:59 2027\r\n\r\n\r\n"),
            std::string::npos);
}

TEST_F(LogFileTest, PacketTimeLineNeedsAGoodPacket) {
  const struct {
    int32_t packets, good, errors;
    double total_ms;
    const char* time_line;  // nullptr: no line
  } kCases[] = {
      {10, 8, 2, 805.3, "Packet time (ms):  100\r\n"},  // the fraction is dropped
      {3, 3, 0, 2.9, "Packet time (ms):  0\r\n"},
      {5, 5, 5, 0.0, nullptr},  // every packet failed
      {5, 0, 3, 0.0, nullptr},  // verdicts found transfers unfinished: no average
  };
  for (const auto& c : kCases) {
    fs::remove(path_);
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str()));
    PortCounters counters;
    counters.PortNumber = 1;
    counters.PacketCount = c.packets;
    counters.GoodPacketCount = c.good;
    counters.ErrorCount = c.errors;
    counters.TotalPacketTime = c.total_ms;
    WritePortResults(log, counters);
    std::string expected = "Number of packets: " + std::to_string(c.packets) + "\r\n";
    if (c.time_line != nullptr) expected += c.time_line;
    expected += "Number of Errors:  " + std::to_string(c.errors) + "\r\n";
    const std::string text = ReadLog();
    EXPECT_EQ(text.substr(0, expected.size()), expected)
        << c.packets << "/" << c.good << "/" << c.errors;
    EXPECT_EQ(text.find("Packet time") != std::string::npos, c.time_line != nullptr);
  }
}

TEST_F(LogFileTest, NothingIsWrittenWithoutAnOpenLog) {
  LogFile never_opened;
  EXPECT_FALSE(never_opened.IsOpen());
  WriteStartRecord(never_opened, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
  WriteStopRecord(never_opened, GoldenPorts(), kStopTime);

  LogFile unreachable;
  EXPECT_FALSE(unreachable.Open((dir_.path() / "missing" / kLogFileName).string().c_str()));
  EXPECT_FALSE(unreachable.IsOpen());
  WriteStopRecord(unreachable, GoldenPorts(), kStopTime);
  EXPECT_FALSE(fs::exists(dir_.path() / "missing"));

  LogFile closed;
  ASSERT_TRUE(closed.Open(path_.c_str()));
  closed.Close();
  EXPECT_FALSE(closed.IsOpen());
  WriteStartRecord(closed, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
  WritePortResults(closed, GoldenPorts()[0]);
  EXPECT_EQ(ReadLog(), "");
}

TEST_F(LogFileTest, GoodRecordsTellNoFailure) {
  LogFile log;
  ASSERT_TRUE(log.Open(path_.c_str()));
  EXPECT_EQ(log.TakeFailure(), std::nullopt);
  WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
  WriteStopRecord(log, GoldenPorts(), kStopTime);
  EXPECT_EQ(log.TakeFailure(), std::nullopt);
  EXPECT_FALSE(log.LastRecordFailed());
}

// Windows has no FIFOs, no /dev/full and no file size limit, and names its
// errors in other words.
#if !defined(_WIN32)
// A FIFO nobody reads fails at once instead of holding the Start.
TEST_F(LogFileTest, AnOpenFailureIsToldOnceWithPathAndReason) {
  fs::create_directory(dir_.path() / "folder");
  ASSERT_EQ(mkfifo((dir_.path() / "fifo").c_str(), 0600), 0);
  const struct {
    fs::path path;
    const char* reason;
  } kCases[] = {
      {dir_.path() / "missing" / kLogFileName, "No such file or directory"},
      {dir_.path() / "folder", "Is a directory"},
      {dir_.path() / "fifo", "No such device or address"},
  };
  for (const auto& c : kCases) {
    LogFile log;
    EXPECT_FALSE(log.Open(c.path.c_str()));
    EXPECT_EQ(log.TakeFailure(), "cannot open the log " + c.path.string() + ": " + c.reason);
    EXPECT_EQ(log.TakeFailure(), std::nullopt) << c.path;
    WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
    EXPECT_EQ(log.TakeFailure(), std::nullopt) << "a log that is not open skips its records";
  }
}

TEST_F(LogFileTest, ALogOnAFullDeviceIsToldOnceAndStaysOpen) {
  // The log's own name, a link to a device that takes no byte.
  fs::create_symlink("/dev/full", path_);
  const fs::path previous = fs::current_path();
  fs::current_path(dir_.path());
  LogFile log;
  const bool opened = log.Open();
  fs::current_path(previous);
  ASSERT_TRUE(opened);
  EXPECT_EQ(log.TakeFailure(), std::nullopt);

  WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
  EXPECT_EQ(log.TakeFailure(), "cannot write the log Quarnex.LOG: No space left on device");
  EXPECT_TRUE(log.LastRecordFailed());
  EXPECT_TRUE(log.IsOpen());
  WriteStopRecord(log, GoldenPorts(), kStopTime);
  WritePortResults(log, GoldenPorts()[0]);
  EXPECT_EQ(log.TakeFailure(), std::nullopt) << "the same series is told once";
  EXPECT_TRUE(log.LastRecordFailed());
}

TEST_F(LogFileTest, ATornRecordIsFollowedByALineEndAndTheNextSeriesIsToldAgain) {
  const std::string stop = kGoldenStop;
  const size_t kTornAt = 25;  // inside "Number of packets: 10"
  LogFile log;
  ASSERT_TRUE(log.Open(path_.c_str()));
  WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
  {
    FileSizeLimit limit(std::string(kGoldenStart).size() + kTornAt);
    ASSERT_TRUE(limit.ok());
    WriteStopRecord(log, GoldenPorts(), kStopTime);
  }
  EXPECT_EQ(log.TakeFailure(), "cannot write the log " + path_ + ": File too large");
  EXPECT_TRUE(log.LastRecordFailed());
  std::string expected = std::string(kGoldenStart) + stop.substr(0, kTornAt);
  ASSERT_EQ(ReadLog(), expected);

  // The next start record begins on a line of its own; it and the records
  // after it are written as always.
  WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
  EXPECT_FALSE(log.LastRecordFailed());
  EXPECT_EQ(log.TakeFailure(), std::nullopt);
  WriteStopRecord(log, GoldenPorts(), kStopTime);
  expected += "\r\n" + std::string(kGoldenStart) + kGoldenStop;
  EXPECT_EQ(ReadLog(), expected);

  // A record written whole ends the series: a new failure is told anew.
  {
    FileSizeLimit limit(expected.size());
    ASSERT_TRUE(limit.ok());
    WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2), {}, kStartTime);
  }
  EXPECT_EQ(log.TakeFailure(), "cannot write the log " + path_ + ": File too large");
  EXPECT_EQ(ReadLog(), expected);
}
#endif

TEST_F(LogFileTest, DefaultsToTheLogInTheCurrentFolderAndTheTimeOfNow) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir_.path());
  {
    LogFile log;
    ASSERT_TRUE(log.Open());
    WriteStartRecord(log, OnePortSettings(), 1024, LineSettings(0, 0, 2));
    WriteStopRecord(log, {});
  }
  fs::current_path(previous);
  const std::string text = ReadLog();
  const size_t start = text.find(">>> TEST START: ");
  const size_t stop = text.rfind(">>> TEST STOP: ");
  ASSERT_NE(start, std::string::npos) << text;
  ASSERT_NE(stop, std::string::npos) << text;
  EXPECT_LT(start, stop);
  EXPECT_TRUE(IsTimestampLine(text.substr(start + 16))) << text;
  EXPECT_TRUE(IsTimestampLine(text.substr(stop + 15))) << text;
  EXPECT_TRUE(text.ends_with("\r\n\r\n\r\n")) << text;
  EXPECT_EQ(stop + 15 + kTimestampLength + 6, text.size()) << text;
}

}  // namespace
}  // namespace quarnex
