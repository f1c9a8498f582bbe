// Pulling a port mid-run: the QUARNEX_SIM item "unplug=SECONDS[:LIST]" and
// what a port does once it is gone.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "adapter/sim_test_util.h"
#include "testapp/platform/posix_test_compat.h"

namespace quarnex {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr auto kPullAfter = milliseconds(200);
// How late a pull may come and still be "on time": generous, since
// sanitizer builds on a busy machine are slow; the scheduler itself is
// precise to microseconds.
constexpr auto kLateness = milliseconds(3000);
constexpr int64_t kPatienceMs = 10000;
// 300 bit/s, 8 bits, 100 bytes = 2.7 s on the line: a write that is surely
// still pending when the port is pulled.
constexpr int32_t kSlowRate = 300;

double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Waits until `port` of `adapter` reports it was pulled; returns when.
Clock::time_point AwaitPull(SimAdapter& adapter, int port) {
  const Clock::time_point give_up = Clock::now() + milliseconds(kPatienceMs);
  SimPortState state;
  while (adapter.PortState(port, &state) && !state.unplugged && Clock::now() < give_up) {
    std::this_thread::sleep_for(milliseconds(2));
  }
  EXPECT_TRUE(state.unplugged) << "port " << port << " was never pulled";
  return Clock::now();
}

TEST(SimUnplugTest, PendingTransfersFailWithDeviceNotConnectedWhenThePortIsPulled) {
  // Port 1 carries ordinary transfers; on port 2 every overlapped transfer
  // hangs, which only a purge, a close or the pull ends.
  auto adapter = MakeAdapter("ports=1-3;unplug=0.2:1-2;fault.hang=1;fault.ports=2");
  const Clock::time_point opened = Clock::now();
  DeviceRef port1 = adapter->Open(1);
  DeviceRef port2 = adapter->Open(2);
  ASSERT_NE(port1, nullptr);
  ASSERT_NE(port2, nullptr);
  Configure(*port1, kEightBits, 0, kSlowRate);
  Transfer read(128), write(100), line_wait(4), hung_read(16), hung_control(4);
  ASSERT_TRUE(port1->Read(read.buffer.data(), 128, &read.completion).pending());
  ASSERT_TRUE(port1->Write(write.buffer.data(), 100, &write.completion).pending());
  ASSERT_TRUE(port1
                  ->Control(AdapterRequest(4), line_wait.buffer.data(), 4, line_wait.buffer.data(),
                            4, &line_wait.completion)
                  .pending());
  ASSERT_TRUE(port2->Read(hung_read.buffer.data(), 16, &hung_read.completion).pending());
  ASSERT_TRUE(port2
                  ->Control(AdapterRequest(2), hung_control.buffer.data(), 1,
                            hung_control.buffer.data(), 1, &hung_control.completion)
                  .pending());
  // A synchronous write queued behind the slow one waits for its end like the
  // others: here, the pull.
  uint8_t sync_buffer[16];
  IoStatus sync_write;
  std::thread sync_writer(
      [&] { sync_write = port1->Write(sync_buffer, sizeof(sync_buffer), nullptr); });

  for (Transfer* t : {&read, &write, &line_wait, &hung_read, &hung_control}) {
    EXPECT_TRUE(t->Wait(kPatienceMs));
    EXPECT_EQ(t->status(), kErrorDeviceNotConnected);
  }
  const Clock::duration took = Clock::now() - opened;
  EXPECT_GE(took, kPullAfter) << "pulled early";
  EXPECT_LT(took, kPullAfter + kLateness);
  EXPECT_EQ(port1->Result(read.completion).error, kErrorDeviceNotConnected);
  // Had the pull not come, the close ends whatever still waits.
  port1->Close();
  port2->Close();
  sync_writer.join();
  EXPECT_EQ(sync_write.error, kErrorDeviceNotConnected);

  // Port 3 was not in the list: it still loops back.
  DeviceRef port3 = adapter->Open(3);
  ASSERT_TRUE(port3->Write("alive", 5, nullptr).done());
  Transfer echo(8);
  ASSERT_TRUE(port3->Read(echo.buffer.data(), 8, &echo.completion).done());
  EXPECT_EQ(echo.text(), "alive");
}

TEST(SimUnplugTest, AfterThePullEveryTransferFailsAtOnceAndTheRestDoesNoHarm) {
  auto adapter = MakeAdapter("ports=1;unplug=0.05");
  DeviceRef device = adapter->Open(1);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(device->Control(kIoctlSetRts, nullptr, 0, nullptr, 0, nullptr).done());
  ASSERT_TRUE(device->Write("unread", 6, nullptr).done());  // waits to be read
  AwaitPull(*adapter, 1);

  const std::vector<uint8_t> block = ConfigBlock(kEightBits, 0, 9600);
  Transfer t(16);
  struct Call {
    const char* what;
    std::function<IoStatus(Completion*)> start;
  };
  const Call calls[] = {
      {"read", [&](Completion* c) { return device->Read(t.buffer.data(), 16, c); }},
      {"write", [&](Completion* c) { return device->Write("x", 1, c); }},
      {"block",
       [&](Completion* c) {
         return device->Control(kIoctlSetConfiguration, block.data(),
                                static_cast<uint32_t>(block.size()), nullptr, 0, c);
       }},
      {"get cts",
       [&](Completion* c) {
         return device->Control(kIoctlGetCts, nullptr, 0, t.buffer.data(), 1, c);
       }},
      {"unknown code",
       [&](Completion* c) { return device->Control(0x00090000u, nullptr, 0, nullptr, 0, c); }},
  };
  for (const Call& call : calls) {
    SCOPED_TRACE(call.what);
    t.event->Set();  // a stale signal, which the start withdraws
    EXPECT_EQ(call.start(&t.completion).error, kErrorDeviceNotConnected);
    EXPECT_FALSE(t.event->IsSet());
    EXPECT_EQ(call.start(nullptr).error, kErrorDeviceNotConnected) << "synchronous";
  }
  uint32_t errors = 0xFFFF, error = 0xFFFF;
  EXPECT_TRUE(device->ClearCommError(&errors, &error));
  EXPECT_EQ(errors, 0u);
  EXPECT_TRUE(device->Purge(kPurgeAll));
  EXPECT_TRUE(device->SetCommMask(0x10));
  SimPortState state;
  ASSERT_TRUE(adapter->PortState(1, &state));
  EXPECT_TRUE(state.unplugged);
  EXPECT_FALSE(state.rts) << "the lines drop with the device";
  EXPECT_EQ(state.frames_waiting, 0u) << "what it held went with it";
  device->Close();
  EXPECT_EQ(device->Read(t.buffer.data(), 16, &t.completion).error, kErrorInvalidHandle);
}

TEST(SimUnplugTest, AnIdlePortIsPulledOnTimeAndCostsNoCpuAfterwards) {
  auto adapter = MakeAdapter("ports=1;unplug=0.2");
  const Clock::time_point opened = Clock::now();
  DeviceRef device = adapter->Open(1);
  ASSERT_NE(device, nullptr);
  SimPortState state;
  ASSERT_TRUE(adapter->PortState(1, &state));
  EXPECT_FALSE(state.unplugged);
  const Clock::duration took = AwaitPull(*adapter, 1) - opened;
  EXPECT_GE(took, kPullAfter);
  EXPECT_LT(took, kPullAfter + kLateness);
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_LT(ProcessCpuSeconds() - before, 0.1) << "something polls the pulled port";
}

TEST(SimUnplugTest, ReopeningPlugsThePortInAgainAndTheTimerCountsFromEachOpen) {
  auto adapter = MakeAdapter("ports=1;unplug=0.2");
  DeviceRef first = adapter->Open(1);
  ASSERT_NE(first, nullptr);
  // Closed before its pull; the next open starts while the first open's
  // timer is still to come, and must not be pulled by it.
  std::this_thread::sleep_for(milliseconds(100));
  first->Close();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const Clock::time_point opened = Clock::now();
    DeviceRef device = adapter->Open(1);
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->Write("back", 4, nullptr).done());
    Transfer echo(8);
    ASSERT_TRUE(device->Read(echo.buffer.data(), 8, &echo.completion).done());
    EXPECT_EQ(echo.text(), "back");
    Transfer pending(8);
    ASSERT_TRUE(device->Read(pending.buffer.data(), 8, &pending.completion).pending());
    ASSERT_TRUE(pending.Wait(kPatienceMs));
    EXPECT_EQ(pending.status(), kErrorDeviceNotConnected);
    EXPECT_GE(Clock::now() - opened, kPullAfter) << "pulled by an earlier open's timer";
    device->Close();
  }
}

TEST(SimUnplugTest, UnusableUnplugItemsAreToldOnStderrAndSkipped) {
  ASSERT_EQ(setenv(kSimEnvironmentVariable, "ports=1-2;unplug=0:1;unplug=3:9;unplug=1.5:2", 1), 0);
  testing::internal::CaptureStderr();
  const SimConfig config = SimConfigFromEnvironment();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "QUARNEX_SIM: ignored 'unplug=0:1': bad time (seconds above 0)\n"
            "QUARNEX_SIM: ignored 'unplug=3:9': port not in the port list\n");
  unsetenv(kSimEnvironmentVariable);
  EXPECT_EQ(config.unplug_after,
            (std::map<int, std::chrono::nanoseconds>{{2, milliseconds(1500)}}));
}

}  // namespace
}  // namespace quarnex
