#include "bench/relay/pty_relay.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_test_util.h"

namespace quarnex {
namespace {

// Long enough for a stalled test machine; never a measure of speed.
constexpr int kPatienceMs = 20000;
// A fast line, so that the tests move their bytes quickly.
constexpr uint32_t kFastRate = 12000000;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return data;
}

bool WriteAll(int fd, const std::vector<uint8_t>& data) {
  for (size_t done = 0; done < data.size();) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads `size` bytes; fewer when nothing comes for kPatienceMs.
std::vector<uint8_t> ReadAll(int fd, size_t size) {
  std::vector<uint8_t> got(size);
  size_t done = 0;
  while (done < size) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kPatienceMs) <= 0) break;
    const ssize_t n = read(fd, got.data() + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  got.resize(done);
  return got;
}

// Opens the port's side as the tester would: its own descriptor of A's
// slave, raw.
UniqueFd OpenPort(const PtyRelay& relay) {
  return UniqueFd(open(relay.port_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
}

// The relay counts a byte just after writing it, so the far side may read
// it a moment earlier: waits (at most kPatienceMs) until the counters
// reach `passed` and `returned`, and returns them.
PtyRelayCounters SettledCounters(const PtyRelay& relay, uint64_t passed, uint64_t returned) {
  PtyRelayCounters c = relay.counters();
  for (int ms = 0; ms < kPatienceMs && (c.passed < passed || c.returned < returned); ++ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    c = relay.counters();
  }
  return c;
}

std::unique_ptr<PtyRelay> MakeRelay(uint32_t rate) {
  PtyRelayOptions options;
  options.bit_rate = rate;
  std::string problem;
  std::unique_ptr<PtyRelay> relay = PtyRelay::Create(options, &problem);
  EXPECT_NE(relay, nullptr) << problem;
  return relay;
}

// Each direction delivers what was sent, whole and in order, and counts it;
// the paced direction was busy at least as long as its bytes take on the
// line, never less (no byte left before its time).
TEST(PtyRelayTest, CarriesBothWaysWholeAndNeverFasterThanTheLine) {
  std::unique_ptr<PtyRelay> relay = MakeRelay(kFastRate);
  ASSERT_NE(relay, nullptr);
  UniqueFd port = OpenPort(*relay);
  ASSERT_TRUE(port.valid());

  const std::vector<uint8_t> out = Pattern(100000, 3);  // more than any buffer holds
  const std::vector<uint8_t> back = Pattern(30000, 101);
  std::thread sender([&] { EXPECT_TRUE(WriteAll(port.get(), out)); });
  EXPECT_EQ(ReadAll(relay->far_end_fd(), out.size()), out);
  sender.join();
  std::thread answer([&] { EXPECT_TRUE(WriteAll(relay->far_end_fd(), back)); });
  EXPECT_EQ(ReadAll(port.get(), back.size()), back);
  answer.join();

  const PtyRelayCounters c = SettledCounters(*relay, out.size(), back.size());
  EXPECT_EQ(c.passed, out.size());
  EXPECT_EQ(c.returned, back.size());
  EXPECT_GE(static_cast<unsigned __int128>(c.busy_ns) * kFastRate,
            static_cast<unsigned __int128>(out.size()) * kUartBitsPerCharacter * 1000000000ull);
}

// With a loopback plug on the far end the port reads back what it wrote,
// packet after packet, as the tester's Loopback does.
TEST(PtyRelayTest, LoopbackPlugOnTheFarEndEchoesEveryPacket) {
  std::unique_ptr<PtyRelay> relay = MakeRelay(kFastRate);
  ASSERT_NE(relay, nullptr);
  EchoPlug plug(relay->far_end_fd());
  UniqueFd port = OpenPort(*relay);
  ASSERT_TRUE(port.valid());
  for (uint8_t i = 0; i < 20; ++i) {
    const std::vector<uint8_t> packet = Pattern(1024, i);
    ASSERT_TRUE(WriteAll(port.get(), packet));
    ASSERT_EQ(ReadAll(port.get(), packet.size()), packet) << "packet " << int{i};
  }
  plug.Stop();
  const PtyRelayCounters c = SettledCounters(*relay, 20u * 1024u, 20u * 1024u);
  EXPECT_EQ(c.passed, 20u * 1024u);
  EXPECT_EQ(c.returned, 20u * 1024u);
}

// Stop ends the thread, asleep until the next byte crosses, however much
// still waits on the line; the relay can be destroyed after it.
TEST(PtyRelayTest, StopsWithBytesStillWaitingOnASlowLine) {
  std::unique_ptr<PtyRelay> relay = MakeRelay(1);  // 10 s a byte
  ASSERT_NE(relay, nullptr);
  UniqueFd port = OpenPort(*relay);
  ASSERT_TRUE(port.valid());
  ASSERT_TRUE(WriteAll(port.get(), Pattern(2000, 9)));
  relay->Stop();
  EXPECT_LT(relay->counters().passed, 2000u);
  relay.reset();
}

TEST(PtyRelayTest, RefusesALineWithoutARate) {
  PtyRelayOptions options;
  options.bit_rate = 0;
  std::string problem;
  EXPECT_EQ(PtyRelay::Create(options, &problem), nullptr);
  EXPECT_FALSE(problem.empty());
}

}  // namespace
}  // namespace quarnex
