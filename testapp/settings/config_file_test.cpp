#include "testapp/settings/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "testapp/platform/posix_test_compat.h"
#include "testapp/platform/regular_file.h"
#include "testapp/platform/test_support.h"

namespace quarnex {
namespace {

using namespace std::string_literals;
using Entries = std::vector<std::pair<std::string, std::string>>;

// Collects every entry it is handed and stops on the key "Stop".
struct Collector {
  Entries entries;
  KeyValueCallback Callback() {
    return [this](const char* key, const char* value) {
      entries.emplace_back(key, value);
      return std::string(key) == "Stop" ? 0 : 1;
    };
  }
};

Entries Parse(const std::string& text) {
  Collector collector;
  EXPECT_EQ(ParseKeyValueText(text, collector.Callback()), 1);
  return collector.entries;
}

struct EntryCase {
  const char* name;
  std::string text;
  Entries expected;
};

TEST(ParseKeyValueTextTest, EntryRule) {
  const EntryCase cases[] = {
      {"plain", "Lim=5\n", {{"Lim", "5\n"}}},
      {"blank before value kept", "Lim= 5\n", {{"Lim", " 5\n"}}},
      {"key not trimmed", "Lim =5\n", {{"Lim ", "5\n"}}},
      {"first equals splits", "Lim=5=6\n", {{"Lim", "5=6\n"}}},
      {"equals first", "=5\n", {}},
      {"no equals", "Lim 5\n", {}},
      {"blank line", "\n", {}},
      {"empty value, newline follows", "Lim=\n", {{"Lim", "\n"}}},
      {"empty value at end of text", "Lim=", {}},
      {"last line without newline", "Lim=5", {{"Lim", "5"}}},
      {"several lines", "A=1\nnoise\nB=2\n", {{"A", "1\n"}, {"B", "2\n"}}},
      {"CR LF read as LF", "Lim=5\r\nA=\r\n", {{"Lim", "5\n"}, {"A", "\n"}}},
      {"lone CR kept", "Lim=5\rX\n", {{"Lim", "5\rX\n"}}},
      {"CR at end of text", "A=\r", {{"A", "\r"}}},
      {"CR CR LF", "A=1\r\r\n", {{"A", "1\r\n"}}},
      {"NUL ends the piece text", "Lim=5\0junk\nB=2\n"s, {{"Lim", "5"}, {"B", "2\n"}}},
      {"NUL right after equals", "Lim=\0"s + "5\n", {}},
      {"NUL first", "\0Lim=5\n"s, {}},
      {"binary bytes", "\xff\x80=\x01\x7f\n", {{"\xff\x80", "\x01\x7f\n"}}},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parse(c.text), c.expected);
  }
}

TEST(ParseKeyValueTextTest, LongLinesAreReadInPiecesOf98) {
  const std::string v94(94, 'v');
  const std::string rest = "Lim=12345" + std::string(42, 'z') + "\n";
  const EntryCase cases[] = {
      // 150 characters: 98, then the rest as a line of its own.
      {"150 characters", "Key=" + v94 + rest, {{"Key", v94}, {"Lim", rest.substr(4)}}},
      {"98 with the newline",
       "A=" + std::string(95, 'b') + "\n",
       {{"A", std::string(95, 'b') + "\n"}}},
      {"98 before the newline", "A=" + std::string(96, 'b') + "\n", {{"A", std::string(96, 'b')}}},
      {"CR LF counts as one",
       "A=" + std::string(95, 'b') + "\r\n",
       {{"A", std::string(95, 'b') + "\n"}}},
      {"equals ends a piece", std::string(97, 'k') + "=5\n", {}},
      {"thousands of characters", std::string(5000, 'a') + "\nLim=5\n", {{"Lim", "5\n"}}},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parse(c.text), c.expected);
  }
}

TEST(ParseKeyValueTextTest, StopReturnsThePieceNumberCountingSkippedPieces) {
  const struct {
    const char* name;
    std::string text;
    int result;
    size_t calls;
  } cases[] = {
      {"first piece", "Stop=1\nB=2\n", 1, 1},
      {"after skipped pieces", "A=1\n\nnoise\nStop=1\nB=2\n", 4, 2},
      {"long line before", std::string(5000, 'a') + "\nStop=5\n", 53, 1},
      {"piece of only a newline", "A=" + std::string(96, 'b') + "\nStop=1\n", 3, 2},
      {"never stopped", "A=1\nB=2\n", 1, 2},
      {"empty text", "", 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Collector collector;
    EXPECT_EQ(ParseKeyValueText(c.text, collector.Callback()), c.result);
    EXPECT_EQ(collector.entries.size(), c.calls);
  }
}

TEST(ParseConfigIntTest, FollowsAtoiAndKeepsTheLow32Bits) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"5", 5},
      {" 5\n", 5},
      {"\t\v\f\r\n 7", 7},
      {"+12", 12},
      {"-12\n", -12},
      {"00012", 12},
      {"12abc", 12},
      {"5=6\n", 5},
      {"0x7E", 0},
      {"abc", 0},
      {"", 0},
      {"\n", 0},
      {"-", 0},
      {"+", 0},
      {"- 5", 0},
      {"+-5", 0},
      {"\xa0\x35", 0},  // no-break space, then 5
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"4294967295", -1},
      {"4294967296", 0},
      {"99999999999", 1215752191},
      {"-99999999999", -1215752191},
      {"18446744073709551617", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseConfigInt(c.text), c.value) << '"' << c.text << '"';
  }
}

// Runs each test in a fresh temporary folder, since the file names are
// relative.
class ReadKeyValueFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(work_.entered()); }
  static void WriteFile(const char* name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
  }

  TempWorkFolder work_{"config_file_test."};
};

TEST_F(ReadKeyValueFileTest, ReadsEntriesOfACrLfFile) {
  WriteFile("quarnex.cfg", "Lim=5\r\n=5\r\n" + std::string(150, 'x') + "\r\nB=\0z\r\nC=7"s);
  Collector collector;
  std::string reason;
  EXPECT_EQ(ReadKeyValueFile("quarnex.cfg", collector.Callback(), &reason), 1);
  EXPECT_EQ(collector.entries, (Entries{{"Lim", "5\n"}, {"C", "7"}}));
}

TEST_F(ReadKeyValueFileTest, StopReturnsThePieceNumber) {
  WriteFile("quarnex.cfg", "A=1\r\n\r\n" + std::string(200, 'y') + "\r\nStop=1\r\nB=2\r\n");
  Collector collector;
  std::string reason;
  // Pieces: A, blank, 98 + 98 + "yyyy\n", Stop.
  EXPECT_EQ(ReadKeyValueFile("quarnex.cfg", collector.Callback(), &reason), 6);
  EXPECT_EQ(collector.entries, (Entries{{"A", "1\n"}, {"Stop", "1\n"}}));
}

// Whatever stands in place of the file, the reader says why it read
// nothing, writes nothing itself and never blocks (a FIFO without a
// writer).
TEST_F(ReadKeyValueFileTest, WhatCannotBeReadIsRefusedWithItsReason) {
  ASSERT_EQ(mkdir("folder.cfg", 0700), 0);
#if !defined(_WIN32)
  ASSERT_EQ(mkfifo("fifo.cfg", 0600), 0);
#endif
  const std::pair<const char*, const char*> cases[] = {
    {"absent.cfg", kReasonNoSuchFile},
    {"folder.cfg", kReasonNotRegular},
#if !defined(_WIN32)
    {"fifo.cfg", kReasonNotRegular},
    {"/dev/zero", kReasonNotRegular},
#endif
  };
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(name);
    Collector collector;
    std::string reason;
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadKeyValueFile(name, collector.Callback(), &reason), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(reason, expected);
    EXPECT_TRUE(collector.entries.empty());
  }
}

#if !defined(_WIN32)  // no mode bits that deny reading
TEST_F(ReadKeyValueFileTest, UnreadableFileIsPermissionDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  WriteFile("quarnex.cfg", "Lim=5\n");
  ASSERT_EQ(chmod("quarnex.cfg", 0), 0);
  Collector collector;
  std::string reason;
  EXPECT_EQ(ReadKeyValueFile("quarnex.cfg", collector.Callback(), &reason), -1);
  EXPECT_EQ(reason, kReasonPermissionDenied);
  EXPECT_TRUE(collector.entries.empty());
}
#endif

}  // namespace
}  // namespace quarnex
