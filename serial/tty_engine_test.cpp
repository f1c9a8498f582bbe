// Whole runs of the engine on real kernel TTYs: QUARNEX_TTY_DIR points at a
// folder of links to pseudo-terminals whose master sides carry loopback
// plugs, and StartRun opens the ports through the backend table as the program
// does.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_test_util.h"
#include "serial/tty_ports.h"
#include "serial/tty_run_test_fixture.h"
#include "testapp/driver/open_device.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/platform/test_support.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

constexpr auto kPatience = std::chrono::seconds(30);
constexpr auto kPollPeriod = std::chrono::milliseconds(5);

class TtyEngineTest : public TtyRunTest {
 protected:
  TtyEngineTest() : TtyRunTest("TxCharacterSize=3\nParity=0\nBitRate=115200\n") {}

  void SetUp() override {
    TtyRunTest::SetUp();
    context_.settings.Test.UpdateInterval = 0;
    context_.settings.PacketSize = 512;
  }

  // Ports 1..count, each a pty pair linked as QuarnexNN; with `plugs` the
  // master sides echo.
  void MakePorts(int count, bool plugs) {
    for (int n = 1; n <= count; ++n) {
      auto pty = std::make_unique<PtyPair>();
      ASSERT_TRUE(pty->Open());
      ASSERT_TRUE(links_.Link(TtyLinkName(n), pty->slave_path));
      if (plugs) plugs_.push_back(std::make_unique<EchoPlug>(pty->master.get()));
      ptys_.push_back(std::move(pty));
    }
    context_.settings.Test.PortCount = count;
  }

  std::vector<std::unique_ptr<PtyPair>> ptys_;  // outlive the plugs
  std::vector<std::unique_ptr<EchoPlug>> plugs_;
};

TEST_F(TtyEngineTest, LoopbackRunsGoodPacketsThroughKernelTtys) {
  MakePorts(2, true);
  ASSERT_TRUE(StartHeadlessRun(context_));
  EXPECT_TRUE(Eventually(
      [this] { return Slot(0).GoodPacketCount >= 200 && Slot(1).GoodPacketCount >= 200; },
      kPatience, kPollPeriod))
      << Slot(0).GoodPacketCount << " " << Slot(1).GoodPacketCount;
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const PortContext& port = Slot(i);
    EXPECT_EQ(port.ErrorCount.load(), 0)
        << port.WriteFailedCount << " " << port.WriteAbortedCount << " " << port.ReadFailedCount
        << " " << port.ReadAbortedCount << " " << port.LengthMismatchCount << " "
        << port.DataMismatchCount;
    EXPECT_GE(plugs_[static_cast<size_t>(i)]->echoed(), 200u * 512u);
  }
  StopHeadlessRun(context_);
  // The ports are free again.
  for (int n : {1, 2}) {
    DeviceRef again = context_.devices.Open("\\\\.\\Quarnex0" + std::to_string(n)).device;
    EXPECT_NE(again, nullptr) << n;
  }
}

// A UART sends a start and a stop bit with each of the 8N1 characters: the
// ideal packet time counts 10 bits a byte, as the line carries them, so a
// sound line can reach 100 % and not stop at 80 %.
TEST_F(TtyEngineTest, IdealPacketTimeCountsTheStartAndStopBits) {
  MakePorts(1, true);
  ASSERT_TRUE(StartHeadlessRun(context_));
  EXPECT_EQ(Slot(0).LineFramingHalfBits, 4u);
  EXPECT_DOUBLE_EQ(context_.run.ExpectedPacketTime.load(), 10.0 * 512 * 1000 / 115200);
  StopHeadlessRun(context_);
}

TEST_F(TtyEngineTest, StopEndsReadsThatNeverComplete) {
  // No plug: nothing comes back, every read stays pending until the stop
  // closes the ports.
  MakePorts(2, false);
  ASSERT_TRUE(StartHeadlessRun(context_));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto before = std::chrono::steady_clock::now();
  StopHeadlessRun(context_);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_EQ(Slot(0).GoodPacketCount.load(), 0);
  EXPECT_EQ(Slot(1).GoodPacketCount.load(), 0);
}

TEST_F(TtyEngineTest, PortWithoutLinkIsMissingAndTheOthersRun) {
  MakePorts(1, true);
  context_.settings.Test.PortCount = 2;  // Quarnex02 has no link
  ASSERT_TRUE(StartHeadlessRun(context_));
  EXPECT_TRUE(Eventually([this] { return Slot(0).GoodPacketCount >= 20; }, kPatience, kPollPeriod));
  EXPECT_EQ(Slot(1).InUse.load(), 0);
}

}  // namespace
}  // namespace quarnex
