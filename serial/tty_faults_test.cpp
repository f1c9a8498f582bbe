// Loopback runs of the engine through a PtyPlug that changes one bit of
// every K-th byte it sends back: no packet that came back changed may count
// as good, and none may go without a verdict.
//
// The plug numbers the bytes it received from the port, so packet n owns
// offsets n x PacketSize .. (n + 1) x PacketSize - 1: Loopback writes a
// packet only after the previous one was judged, a read of PacketSize bytes
// completes only once they all came back, and the purge after a bad packet
// finds nothing of the next one on the line. So the plug's list of changed
// offsets names exactly the packets that had to fail.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_plug.h"
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

// Sanitizer builds run several times slower; a hung run must still fail.
constexpr auto kPatience = std::chrono::seconds(30);
// Packets each run judges before it ends: enough that every row of the
// table below meets dozens of changed bytes.
constexpr int64_t kJudgedPerRun = 200;
// Far longer than a packet's round trip through the plug even under a
// sanitizer: counters that stay put this long have settled.
constexpr auto kSettle = std::chrono::milliseconds(300);

// The counters of the slot, read one by one.
struct Counts {
  int64_t packets = 0;
  int64_t good = 0;
  int64_t errors = 0;
  int64_t data_mismatch = 0;
  int64_t read_failed = 0;
  int64_t others = 0;  // write failures, aborts, length mismatches, timeouts

  static Counts Of(const PortContext& port) {
    Counts c;
    c.packets = port.PacketCount.load();
    c.good = port.GoodPacketCount.load();
    c.errors = port.ErrorCount.load();
    c.data_mismatch = port.DataMismatchCount.load();
    c.read_failed = port.ReadFailedCount.load();
    c.others = port.WriteFailedCount.load() + port.WriteAbortedCount.load() +
               port.ReadAbortedCount.load() + port.LengthMismatchCount.load() +
               port.ReadTimeoutCount.load() + port.WriteTimeoutCount.load();
    return c;
  }
  int64_t judged() const { return good + errors; }
  bool operator==(const Counts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Counts& c) {
  return out << "packets=" << c.packets << " good=" << c.good << " errors=" << c.errors
             << " data_mismatch=" << c.data_mismatch << " read_failed=" << c.read_failed
             << " others=" << c.others;
}

// How many of the first `judged` packets carried at least one changed byte.
int64_t PacketsHit(const std::vector<uint64_t>& offsets, uint32_t packet_size, int64_t judged) {
  std::set<uint64_t> packets;
  for (uint64_t offset : offsets) {
    const uint64_t packet = offset / packet_size;
    if (packet < static_cast<uint64_t>(judged)) packets.insert(packet);
  }
  return static_cast<int64_t>(packets.size());
}

// Pauses the run of `context` and waits until the counters of its first
// slot stayed put for kSettle; *counts holds the last reading. False when
// they never did.
bool PauseUntilSettled(RunContext& context, Counts* counts) {
  PauseRun(context);
  const PortContext& slot = context.run.Ports[0];
  *counts = Counts::Of(slot);
  return Eventually(
      [&slot, counts] {
        std::this_thread::sleep_for(kSettle);
        const Counts now = Counts::Of(slot);
        const bool still = now == *counts;
        *counts = now;
        return still;
      },
      kPatience);
}

// The program's own timeouts (the fixture's): a pseudo-terminal that is
// slow for a moment on a busy machine must not fail a packet by itself.
class TtyFaultsTest : public TtyRunTest {
 protected:
  TtyFaultsTest() : TtyRunTest("TxCharacterSize=3\nParity=0\nBitRate=1000000\n") {}
};

TEST_F(TtyFaultsTest, EveryPacketWithAFlippedBitIsAnErrorAndEveryOtherIsGood) {
  // Paused: the writer is held back, the last packet sent is judged and
  // nothing is in flight, so the counts are exact. Stopped: the read the
  // stop interrupts may be judged a failed read, the one allowance.
  enum class End { kPaused, kStopped };
  struct Case {
    const char* name;
    uint32_t packet_size;
    uint32_t flip_every;
    uint8_t flip_mask;
  };
  const Case cases[] = {
      {"about two packets in three", 1024, 1500, 0x01},
      {"every packet, some twice", 256, 200, 0x80},
      {"one packet in ten", 512, 5000, 0x10},
      {"a shifting byte of every tenth packet", 100, 1013, 0x01},
      {"the last byte of every third packet", 64, 192, 0x01},
      {"just past a packet boundary", 64, 129, 0x02},
      {"single-byte packets", 1, 7, 0x40},
      {"long packets, one in three", 4096, 12289, 0x04},
      {"every bit of the byte", 300, 3001, 0xFF},
      {"rarely", 128, 10007, 0x01},
  };
  for (const End end : {End::kPaused, End::kStopped}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << c.name << (end == End::kPaused ? ", paused" : ", stopped"));
      PtyPlugOptions options;
      options.flip_every = c.flip_every;
      options.flip_mask = c.flip_mask;
      std::string problem;
      std::unique_ptr<PtyPlug> plug = PtyPlug::Create(links_.path(), 1, options, &problem);
      ASSERT_NE(plug, nullptr) << problem;
      context_.settings.PacketSize = static_cast<int32_t>(c.packet_size);
      ASSERT_TRUE(StartHeadlessRun(context_));
      ASSERT_TRUE(
          Eventually([this] { return Counts::Of(Slot()).judged() >= kJudgedPerRun; }, kPatience))
          << Counts::Of(Slot());

      if (end == End::kPaused) {
        Counts settled;
        ASSERT_TRUE(PauseUntilSettled(context_, &settled)) << "never settled: " << settled;
        EXPECT_EQ(settled.packets, settled.judged()) << settled;
        EXPECT_EQ(plug->counters().received, settled.judged() * c.packet_size)
            << "every packet the plug sent back was judged";
        EXPECT_EQ(settled.errors,
                  PacketsHit(plug->flipped_offsets(), c.packet_size, settled.judged()))
            << settled;
        EXPECT_EQ(settled.errors, settled.data_mismatch) << settled;
        EXPECT_EQ(settled.others + settled.read_failed, 0) << settled;
        StopHeadlessRun(context_);
      } else {
        StopHeadlessRun(context_);
        const Counts stopped = Counts::Of(Slot());
        const int64_t unjudged = stopped.packets - stopped.judged();
        EXPECT_TRUE(unjudged == 0 || unjudged == 1) << stopped;
        // A read the stop cut short counts as failed; it can only be the
        // last packet judged, and only one.
        EXPECT_LE(stopped.read_failed, 1) << stopped;
        const int64_t sent_back = stopped.judged() - stopped.read_failed;
        EXPECT_EQ(stopped.data_mismatch,
                  PacketsHit(plug->flipped_offsets(), c.packet_size, sent_back))
            << stopped;
        EXPECT_EQ(stopped.errors, stopped.data_mismatch + stopped.read_failed) << stopped;
        EXPECT_EQ(stopped.others, 0) << stopped;
        const uint64_t received = plug->counters().received;
        EXPECT_GE(received, static_cast<uint64_t>(sent_back) * c.packet_size) << stopped;
        EXPECT_LE(received, static_cast<uint64_t>(stopped.judged() + 1) * c.packet_size) << stopped;
      }
      EXPECT_GT(plug->counters().flipped, 0u);
    }
  }
}

// While paused the reader waits on a read for which no write was released;
// a stop ends it. That packet was never sent, so it has no verdict: the
// previous packet's write result is not its own.
TEST_F(TtyFaultsTest, StopAfterPauseJudgesNoPacketThatWasNeverSent) {
  std::string problem;
  std::unique_ptr<PtyPlug> plug = PtyPlug::Create(links_.path(), 1, PtyPlugOptions{}, &problem);
  ASSERT_NE(plug, nullptr) << problem;
  context_.settings.PacketSize = 256;
  ASSERT_TRUE(StartHeadlessRun(context_));
  ASSERT_TRUE(
      Eventually([this] { return Counts::Of(Slot()).judged() >= kJudgedPerRun; }, kPatience))
      << Counts::Of(Slot());
  Counts settled;
  ASSERT_TRUE(PauseUntilSettled(context_, &settled)) << "never settled: " << settled;
  ASSERT_EQ(settled.errors, 0) << settled;
  StopHeadlessRun(context_);
  const Counts stopped = Counts::Of(Slot());
  EXPECT_EQ(stopped.good, settled.good) << stopped;
  EXPECT_EQ(stopped.errors, 0) << stopped;
  EXPECT_LE(stopped.packets - stopped.judged(), 1) << stopped;
}

}  // namespace
}  // namespace quarnex
