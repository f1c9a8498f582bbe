// Far ends: sink, source (pattern and file) and null-modem pairs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "adapter/sim_test_util.h"
#include "testapp/platform/message_quote.h"
#include "testapp/platform/posix_test_compat.h"

namespace quarnex {
namespace {

constexpr int64_t kWaitMs = 2000;
using Ms = std::chrono::duration<double, std::milli>;

std::vector<uint8_t> Pattern(uint32_t n) {
  std::vector<uint8_t> p(n);
  for (uint32_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>('A' + (i % 256) % 26);
  return p;
}

std::vector<uint8_t> ReadFrame(Device& device, uint32_t max) {
  Transfer read(max);
  const IoStatus s = device.Read(read.buffer.data(), max, &read.completion);
  if (s.pending()) {
    EXPECT_TRUE(read.Wait(kWaitMs));
  }
  EXPECT_EQ(read.status(), kErrorSuccess);
  read.buffer.resize(read.count());
  return read.buffer;
}

TEST(SimFarEndTest, SinkSwallowsEveryFrame) {
  auto adapter = MakeAdapter("ports=1;far=sink");
  DeviceRef device = adapter->Open(1);
  Configure(*device, kEightBits, 0, 1000000);
  Transfer read(64), write(64);
  ASSERT_TRUE(device->Read(read.buffer.data(), 64, &read.completion).pending());
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(device->Write(write.buffer.data(), 64, &write.completion).pending());
    ASSERT_TRUE(write.Wait(kWaitMs));
    EXPECT_EQ(write.count(), 64u);
  }
  EXPECT_FALSE(read.Wait(20));
  SimPortState s;
  ASSERT_TRUE(adapter->PortState(1, &s));
  EXPECT_EQ(s.frames_sent, 3u);
  EXPECT_EQ(s.frames_received, 0u);
  device->Close();
}

TEST(SimFarEndTest, PatternSourceSendsFramesBackToBackAtTheLineRate) {
  auto adapter = MakeAdapter("ports=1-2;2=source:pattern:24");
  DeviceRef device = adapter->Open(2);
  const auto start = SimClock::now();
  Configure(*device, kEightBits, 0, 9600);  // 24 bytes = 20 ms
  constexpr int kFrames = 5;
  for (int i = 0; i < kFrames; ++i) EXPECT_EQ(ReadFrame(*device, 100), Pattern(24)) << i;
  // Frame k arrives k x 20 ms after the block set the rate, not earlier.
  EXPECT_GE(Ms(SimClock::now() - start).count(), kFrames * 20.0);
  // What the port writes goes nowhere: the next frame is the source's.
  ASSERT_TRUE(device->Write("x", 1, nullptr).done());
  EXPECT_EQ(ReadFrame(*device, 100), Pattern(24));
}

TEST(SimFarEndTest, UnpacedSourceDeliversAFrameForEveryRead) {
  auto adapter = MakeAdapter("ports=3;3=source:1024");
  DeviceRef device = adapter->Open(3);
  for (int i = 0; i < 100; ++i) {
    Transfer read(2048);
    const IoStatus s = device->Read(read.buffer.data(), 2048, &read.completion);
    ASSERT_TRUE(s.done());
    ASSERT_EQ(s.count, 1024u);
    read.buffer.resize(1024);
    ASSERT_EQ(read.buffer, Pattern(1024));
  }
}

TEST(SimFarEndTest, FileSourceSendsTheFileInChunksAndStartsOver) {
  const std::string path = ::testing::TempDir() + "sim_far_end_source.bin";
  std::vector<uint8_t> file(2500);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7 + 3);
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
  }
  auto adapter = MakeAdapter("ports=1;1=source:file=" + path + ":1000");
  DeviceRef device = adapter->Open(1);
  const std::vector<uint8_t> chunks[] = {
      {file.begin(), file.begin() + 1000},
      {file.begin() + 1000, file.begin() + 2000},
      {file.begin() + 2000, file.end()},  // the short last chunk
      {file.begin(), file.begin() + 1000},
  };
  for (const auto& chunk : chunks) EXPECT_EQ(ReadFrame(*device, 4096), chunk);
  std::remove(path.c_str());
}

TEST(SimFarEndTest, UnreadableSourceFileFallsBackToThePattern) {
  auto adapter = MakeAdapter("ports=1;1=source:file=/nonexistent/quarnex.bin:64");
  DeviceRef device = adapter->Open(1);
  EXPECT_EQ(ReadFrame(*device, 100), Pattern(64));
}

// A source's file may name anything; what cannot be sent is told in one
// line, and the port sends the pattern. A folder once ended the program, a
// FIFO without a writer blocked it and /dev/zero was read without end.
TEST(SimFarEndTest, SourceFileThatCannotBeSentFallsBackToThePatternWithItsReason) {
  const std::string dir = ::testing::TempDir() + "sim_far_end_sources";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
#if !defined(_WIN32)
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#endif
  const std::string empty = dir + "/empty";
  std::ofstream(empty).close();
  struct Case {
    std::string path;
    const char* reason;
  };
  const Case cases[] = {
    {dir + "/missing", "no such file"},
    {dir, "not a regular file"},
    {empty, "empty"},
    {dir + "/" + std::string(200, 'y') + "/missing", "no such file"},
#if !defined(_WIN32)
    {fifo, "not a regular file"},
    {"/dev/zero", "not a regular file"},
    {std::string(5000, '/') + "missing", "File name too long"},
#endif
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    auto adapter = MakeAdapter("ports=4;4=source:file=" + c.path + ":64");
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(told, "QUARNEX_SIM: port 4: cannot send the source file '" +
                        QuotePathForMessage(c.path) + "': " + c.reason + "; sending the pattern\n");
    EXPECT_LT(told.size(), 4300u);  // a path longer than any the system opens is cut
    DeviceRef device = adapter->Open(4);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(ReadFrame(*device, 100), Pattern(64)) << c.path;
  }
  std::filesystem::remove_all(dir);
}

TEST(SimFarEndTest, NullModemPairCarriesFramesBothWaysButNotBack) {
  auto adapter = MakeAdapter("ports=1-4;3-4=nullmodem");
  DeviceRef a = adapter->Open(3), b = adapter->Open(4);
  ASSERT_TRUE(a && b);
  Configure(*a, kEightBits, 0, 9600);  // 12 bytes = 10 ms on a's line
  Transfer a_read(64), b_read(64), a_write(12);
  ASSERT_TRUE(a->Read(a_read.buffer.data(), 64, &a_read.completion).pending());
  ASSERT_TRUE(b->Read(b_read.buffer.data(), 64, &b_read.completion).pending());
  std::copy_n("from a to b.", 12, a_write.buffer.begin());
  const auto start = SimClock::now();
  ASSERT_TRUE(a->Write(a_write.buffer.data(), 12, &a_write.completion).pending());
  ASSERT_TRUE(b_read.Wait(kWaitMs));
  EXPECT_GE(Ms(SimClock::now() - start).count(), 10.0);  // when it left a's line
  EXPECT_EQ(b_read.text(), "from a to b.");
  EXPECT_FALSE(a_read.Wait(20));
  ASSERT_TRUE(b->Write("back", 4, nullptr).done());  // b is unpaced
  ASSERT_TRUE(a_read.Wait(kWaitMs));
  EXPECT_EQ(a_read.text(), "back");
}

TEST(SimFarEndTest, FramesToAClosedPeerAreLost) {
  auto adapter = MakeAdapter("ports=1-2;1=nullmodem:2");
  DeviceRef a = adapter->Open(1);
  ASSERT_TRUE(a->Write("lost", 4, nullptr).done());
  DeviceRef b = adapter->Open(2);
  Transfer read(8);
  // Nothing waits for b: the frame did not wait in a closed port.
  ASSERT_TRUE(b->Read(read.buffer.data(), 8, &read.completion).pending());
  b->Close();
}

}  // namespace
}  // namespace quarnex
