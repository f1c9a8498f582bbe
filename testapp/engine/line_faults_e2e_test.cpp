// Whole runs on lines that fail the way lines fail in a lab: every packet
// that arrives is judged, a lost frame costs one error and not the port, a
// device that vanishes ends its port once, and Stop never waits for Delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "testapp/engine/headless_run.h"
#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/sim_run_test_fixture.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/verdict.h"
#include "testapp/report/row_text.h"
#include "testapp/report/run_verdict.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

using std::chrono::milliseconds;

class LineFaultsTest : public SimRunTest {
 protected:
  void SetUp() override {
    SimRunTest::SetUp();
    // A blocked transfer ends 100 ms (plus twice the packet time) after it
    // started.
    context_.settings.Test.TimeoutBlockedThreads = 1;
    context_.settings.Timeouts = {100, 0};
  }

  // Whether the cell ever read `text`.
  bool Saw(int row, int column, const std::string& text) const {
    const std::vector<std::string> history = view_.CellHistory(row, column);
    return std::find(history.begin(), history.end(), text) != history.end();
  }

  // One Loopback port at 1 Mbit/s whose frames are all lost, with
  // "Timeout Blocked Threads" off: its first read waits for good.
  void StartWithEveryFrameLostAndNoTimeout() {
    context_.settings.Test.TimeoutBlockedThreads = 0;
    FaultRates faults;
    faults.drop = 1.0;
    UseAdapter(1, FarEnd{}, faults);
    Configure(1000000);
    ASSERT_TRUE(StartHeadlessRun(context_));
  }

  // Packets counted but neither good nor bad.
  int64_t Unjudged(int slot) {
    const PortContext& port = Slot(slot);
    return port.PacketCount.load() - port.GoodPacketCount.load() - port.ErrorCount.load();
  }
};

// Loopback on 16 ports, paced and unpaced: after the run every port has
// judged every packet but, at most, the one in flight when Stop came.
TEST_F(LineFaultsTest, EveryPacketThatArrivesIsJudged) {
  // The timeout stays armed, but a stall of the loaded test machine must
  // not end a transfer of these good lines.
  context_.settings.Timeouts = kLongTransferTimeouts;
  for (int bit_rate : {115200, 1000000, 0}) {
    SCOPED_TRACE(bit_rate);
    UseAdapter(16, FarEnd{});
    Configure(bit_rate);
    context_.settings.PacketSize = 256;
    ASSERT_TRUE(StartHeadlessRun(context_));
    ASSERT_TRUE(Eventually([this] {
      for (int i = 0; i < 16; ++i) {
        if (Slot(i).GoodPacketCount.load() < 5) return false;
      }
      return true;
    }));
    // Before the stop: the packet in flight when Stop comes ends as a
    // failed read, as it always did.
    for (int i = 0; i < 16; ++i) EXPECT_EQ(Slot(i).ErrorCount.load(), 0) << "port " << i + 1;
    StopHeadlessRun(context_);
    for (int i = 0; i < 16; ++i) EXPECT_LE(Unjudged(i), 1) << "port " << i + 1;
  }
}

// A frame lost on the way in leaves the read waiting for data that never
// comes: the timeout ends it, the packet is one failed read, and the port
// goes on with good packets. Each lost frame is one error.
TEST_F(LineFaultsTest, ALostFrameCostsOneErrorNotThePort) {
  FaultRates faults;
  faults.drop = 0.2;
  UseAdapter(1, FarEnd{}, faults);
  Configure(1000000);
  ASSERT_TRUE(StartHeadlessRun(context_));
  ASSERT_TRUE(Eventually([this] { return Slot(0).ErrorCount.load() >= 3; }));
  const int64_t good_at_third_error = Slot(0).GoodPacketCount.load();
  ASSERT_TRUE(Eventually([&] { return Slot(0).GoodPacketCount.load() > good_at_third_error + 5; }));
  StopHeadlessRun(context_);

  // Every error but the packet in flight at Stop (a failed read, as it
  // always was) is a timed-out read, and every frame the line lost is one
  // of them; the last frame may have been lost just before Stop.
  const PortContext& port = Slot(0);
  const int64_t timeouts = port.ReadTimeoutCount.load();
  EXPECT_GE(port.ReadFailedCount.load(), timeouts);
  EXPECT_GE(timeouts, 3);
  EXPECT_LE(port.ErrorCount.load() - timeouts, 1);
  EXPECT_EQ(port.WriteTimeoutCount.load(), 0);
  EXPECT_LE(Unjudged(0), 1);
  const auto lost = static_cast<int64_t>(State(1).frames_lost);
  EXPECT_GE(lost, timeouts);
  EXPECT_LE(lost, timeouts + 1);
  EXPECT_TRUE(Saw(port.Row, kColumnStatus, kStatusReadTimeout));
}

// Transfers that never complete: in Loopback the reader ends the blocked
// pair, in Transmit only the writer its own write.
TEST_F(LineFaultsTest, HungTransfersTimeOutInLoopbackAndTransmitOnly) {
  struct Case {
    const char* name;
    int32_t mode;
    FarEndKind far;
    const char* status;
  };
  const Case cases[] = {
      {"loopback", kLoopback, FarEndKind::kLoopback, nullptr},
      {"transmit only", kTransmitOnly, FarEndKind::kSink, kStatusWriteTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    context_.settings.Test.Mode = c.mode;
    FaultRates faults;
    faults.hang = 0.3;
    UseAdapter(1, Far(c.far), faults);
    Configure(1000000);
    ASSERT_TRUE(StartHeadlessRun(context_));
    const bool enough = Eventually(
        [this] { return Slot(0).ErrorCount.load() >= 2 && Slot(0).GoodPacketCount.load() >= 5; });
    ASSERT_TRUE(enough);
    StopHeadlessRun(context_);
    // Every error but the packet in flight at Stop is a timeout.
    const PortContext& port = Slot(0);
    const int64_t timeouts = port.ReadTimeoutCount.load() + port.WriteTimeoutCount.load();
    EXPECT_GE(timeouts, 2);
    EXPECT_LE(port.ErrorCount.load() - timeouts, 1);
    EXPECT_LE(Unjudged(0), 1);
    if (c.status != nullptr) {
      EXPECT_TRUE(Saw(port.Row, kColumnStatus, c.status));
    }
  }
}

// In Receive only the clock starts only once the line sent something: a
// line that never did stays without a verdict (which the runner fails).
TEST_F(LineFaultsTest, ReceiveOnlyWaitsForALineThatNeverSentAnything) {
  context_.settings.Test.Mode = kReceiveOnly;
  UseAdapter(1, Far(FarEndKind::kSink));
  Configure(1000000);
  ASSERT_TRUE(StartHeadlessRun(context_));
  Sleep(400);  // four timeouts
  EXPECT_EQ(Slot(0).PacketCount.load(), 0);
  EXPECT_EQ(Slot(0).ErrorCount.load(), 0);
}

// With "Timeout Blocked Threads" off a lost frame leaves the read waiting,
// as the user asked; the port still cannot pass. Once the read has waited
// longer than the line needs, a snapshot (what the stop record and every
// summary are made from) counts it as one read timeout; past the stall
// limit the port is stalled.
TEST_F(LineFaultsTest, WithoutTheTimeoutABlockedReadIsStillJudged) {
  ASSERT_NO_FATAL_FAILURE(StartWithEveryFrameLostAndNoTimeout());
  EXPECT_EQ(BlockedTransferTimeoutMs(context_), std::numeric_limits<double>::infinity());
  const double overdue = OverdueLimitMs(context_.run.ExpectedPacketTime.load());
  Sleep(static_cast<int>(overdue) + 200);
  EXPECT_EQ(Slot(0).PacketCount.load(), 0) << "the read still waits";

  const RunSnapshot early = TakeRunSnapshot(context_, 0.0);
  ASSERT_EQ(early.Ports.size(), 1u);
  const PortCounters& c = early.Ports[0].Counters;
  EXPECT_EQ(c.OverdueTimeout, kTimeoutRead);
  EXPECT_EQ(c.PacketCount, 1);
  EXPECT_EQ(c.ErrorCount, 1);
  EXPECT_EQ(c.ReadFailedCount, 1);
  EXPECT_EQ(c.ReadTimeoutCount, 1);
  EXPECT_EQ(c.GoodPacketCount, 0);
  EXPECT_EQ(PortStatusText(early.Ports[0]), kStatusReadTimeout);
  EXPECT_EQ(StopRecordPorts(early).at(0).ErrorCount, 1);
  EXPECT_FALSE(c.Stalled) << c.StalledMs;
  EXPECT_EQ(VerdictSinceStart(c), PortRunVerdict::kFailed);

  const double stall = StallLimitMs(context_.run.ExpectedPacketTime.load());
  ASSERT_TRUE(Eventually([&] { return TakeRunSnapshot(context_, 0.0).Ports[0].Counters.Stalled; }));
  const PortCounters later = TakeRunSnapshot(context_, 0.0).Ports[0].Counters;
  EXPECT_GT(later.StalledMs, stall);
  EXPECT_EQ(VerdictSinceStart(later), PortRunVerdict::kStalled);
  EXPECT_EQ(later.ErrorCount, 1) << "one packet, one error";
  EXPECT_EQ(Slot(0).PacketCount.load(), 0);
  StopHeadlessRun(context_);
  // The stall stays in the port's figures after its wait ended.
  EXPECT_GT(Slot(0).LongestStallMs.load(), stall);
}

// When the tester itself was held up (stopped, starved), the time it stood
// still is not the line's: a wait that wakes far past its deadline starts
// the clock of every outstanding transfer again, and the run keeps how long
// the hold-up was.
TEST_F(LineFaultsTest, TheTestersOwnHoldUpIsNotCountedAgainstTheLine) {
  ASSERT_NO_FATAL_FAILURE(StartWithEveryFrameLostAndNoTimeout());
  ASSERT_TRUE(Eventually(
      [this] { return TakeRunSnapshot(context_, 0.0).Ports[0].Counters.OverdueTimeout != 0; }));

  // A wake-up a little late is the machine's ordinary jitter (noted in a
  // run of its own: the run's watch thread may see a real hold-up of a
  // busy machine meanwhile).
  const auto quiet = std::make_unique<RunState>();
  NoteWake(*quiet, 1000.0, 1000.0 + kHeldUpMs / 2);
  EXPECT_EQ(quiet->HeldUpMaxMs.load(), 0.0);
  EXPECT_EQ(quiet->HeldUpUntil.load(), 0.0);
  NoteWake(*quiet, 1000.0, 1000.0 + kHeldUpMs * 2);
  EXPECT_EQ(quiet->HeldUpMaxMs.load(), kHeldUpMs * 2);
  EXPECT_EQ(quiet->HeldUpUntil.load(), 1000.0 + kHeldUpMs * 2);

  // One a second late was a hold-up: the read has been watched only since.
  // The wake-up is dated a minute ahead, so the snapshot below still falls
  // before the read is overdue again however long this thread is paused
  // between the two calls.
  const double woke = MsClock() + 60000.0;
  NoteWake(context_.run, woke - 1000.0, woke);
  const RunSnapshot snapshot = TakeRunSnapshot(context_, 0.0);
  EXPECT_EQ(snapshot.Ports[0].Counters.OverdueTimeout, 0);
  EXPECT_EQ(snapshot.Ports[0].Counters.ErrorCount, 0);
  EXPECT_GE(snapshot.HeldUpMaxMs, 1000.0);
  EXPECT_EQ(WatchedMs(context_.run, woke - 5000.0, woke), 0.0);
  StopHeadlessRun(context_);
}

// A device that reports itself gone ends its port once: one error, "Port
// lost", the port closed; the other port runs on.
TEST_F(LineFaultsTest, ALostDeviceEndsItsPortOnceAndTheOthersRunOn) {
  for (int32_t mode : {kLoopback, kTransmitOnly, kReceiveOnly}) {
    SCOPED_TRACE(mode);
    context_.settings.Test.Mode = mode;
    UseAdapter(2,
               Far(mode == kLoopback       ? FarEndKind::kLoopback
                   : mode == kTransmitOnly ? FarEndKind::kSink
                                           : FarEndKind::kSource),
               {}, {{1, milliseconds(200)}});
    Configure(1000000);
    ASSERT_TRUE(StartHeadlessRun(context_));
    ASSERT_TRUE(Eventually([this] { return Slot(0).InUse.load() == 0; }));
    const PortContext& lost = Slot(0);
    EXPECT_EQ(lost.Lost.load(), 1);
    EXPECT_EQ(lost.ErrorCount.load(), 1);
    EXPECT_GT(lost.GoodPacketCount.load(), 0);
    EXPECT_EQ(view_.Cell(lost.Row, kColumnStatus), kStatusPortLost);
    const int64_t other = Slot(1).GoodPacketCount.load();
    ASSERT_TRUE(Eventually([&] { return Slot(1).GoodPacketCount.load() > other + 10; }));
    EXPECT_EQ(lost.ErrorCount.load(), 1) << "a lost port counts no more errors";
    EXPECT_EQ(Slot(1).ErrorCount.load(), 0);
    EXPECT_EQ(Slot(1).Lost.load(), 0);
    StopHeadlessRun(context_);
  }
}

// The transmitter's Delay waits on the run's exit event: Stop ends it at
// once, whatever it says.
TEST_F(LineFaultsTest, StopDoesNotWaitForTheDelay) {
  for (int32_t mode : {kLoopback, kTransmitOnly}) {
    SCOPED_TRACE(mode);
    context_.settings.Test.Mode = mode;
    context_.settings.Test.Delay = 600000;
    UseAdapter(1, Far(mode == kLoopback ? FarEndKind::kLoopback : FarEndKind::kSink));
    Configure(1000000);
    ASSERT_TRUE(StartHeadlessRun(context_));
    Sleep(300);  // the writer is in its Delay now, longer than a timeout
    // A long Delay is no timeout: nothing failed while the writer waited.
    EXPECT_EQ(Slot(0).ErrorCount.load(), 0);
    const auto before = std::chrono::steady_clock::now();
    StopHeadlessRun(context_);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    // The packet whose Delay the stop cut short was never sent.
    EXPECT_EQ(State(1).frames_sent, 0u);
  }
}

// Loopback with a file and extra writes: the transmitter and the receiver
// each keep their own file offset (a ThreadSanitizer build checks it).
TEST_F(LineFaultsTest, LoopbackWithAFileAndExtraWritesKeepsOffsetsApart) {
  UseFile("data.bin", std::string(3000, 'q'));
  context_.options.OverlapWrite = 1;
  context_.options.NumberOverlap = 2;
  UseAdapter(1, FarEnd{});
  Configure(0);
  ASSERT_TRUE(StartHeadlessRun(context_));
  ASSERT_TRUE(Eventually([this] { return Slot(0).PacketCount.load() >= 20; }));
  StopHeadlessRun(context_);
  context_.options.OverlapWrite = 0;
  context_.options.NumberOverlap = 0;
  // The extra copies reach the reader first, so its file compare fails;
  // what counts here is that every packet got its verdict.
  EXPECT_LE(Unjudged(0), 1);
}

}  // namespace
}  // namespace quarnex
