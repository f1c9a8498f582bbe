// Whole runs on the simulated adapter read back through the run snapshot:
// line errors counted by kind where the line status is reported, the first
// mismatch of a run, the rows of ports that reached Pause After, and which
// ports a snapshot holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "testapp/driver/device_name.h"
#include "testapp/engine/first_mismatch.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/sim_run_test_fixture.h"
#include "testapp/report/port_details.h"
#include "testapp/report/row_text.h"
#include "testapp/report/run_verdict.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

constexpr int32_t kPacket = 64;

class RunSnapshotTest : public SimRunTest {
 protected:
  void SetUp() override {
    SimRunTest::SetUp();
    context_.settings.PacketSize = kPacket;
    Configure(0);  // unpaced: many packets in little time
  }

  // The number of line-status texts written into slot 0's row that name
  // `text`.
  int64_t TextsNaming(const char* text) const {
    const std::vector<std::string> history = view_.CellHistory(0, kColumnLastCommError);
    return std::count_if(history.begin(), history.end(), [text](const std::string& written) {
      return written.find(text) != std::string::npos;
    });
  }
};

// Every query that reported a kind counts it once: the counts equal the
// number of line-status texts that named it, kind by kind.
TEST_F(RunSnapshotTest, LineErrorsAreCountedByKindWhereTheyAreReported) {
  struct Case {
    const char* name;
    double rate;
    uint32_t mask;  // 0: one kind at random per frame
  };
  const Case cases[] = {{"framing on every frame", 1.0, kCeFrame}, {"any kind on half", 0.5, 0}};
  const char* kTexts[kLineErrorKindCount] = {"Break detected", "Framing error",
                                             "Overrun error",  "Receive buffer overflow",
                                             "Parity error",   "Tx buffer full"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultRates faults;
    faults.line_error = c.rate;
    faults.line_error_mask = c.mask;
    UseAdapter(1, FarEnd{}, faults);
    ASSERT_TRUE(StartHeadlessRun(context_));
    ASSERT_TRUE(Eventually([this] { return Slot(0).PacketCount.load() >= 300; }));
    StopHeadlessRun(context_);

    const PortCounters counters = SnapshotPort(Slot(0), 1);
    int64_t counted = 0;
    for (int kind = 0; kind < kLineErrorKindCount; ++kind) {
      SCOPED_TRACE(LineErrorKindName(kind));
      const int64_t count = counters.LineErrorCount[static_cast<size_t>(kind)];
      EXPECT_EQ(count, TextsNaming(kTexts[kind]));
      if (c.mask == kCeFrame && kind != kLineFraming) {
        EXPECT_EQ(count, 0);
      }
      counted += count;
    }
    EXPECT_GT(counted, 100);
    if (c.mask == 0) {
      for (int kind = 0; kind < kLineErrorKindCount; ++kind) {
        EXPECT_GT(counters.LineErrorCount[static_cast<size_t>(kind)], 0) << kind;
      }
    }
  }
}

// The first bad packet's place is kept, and only once: a corrupted frame
// names a byte of the packet, a cut one the length that arrived.
TEST_F(RunSnapshotTest, TheFirstMismatchOfARunIsKept) {
  struct Case {
    const char* name;
    FaultRates faults;
    MismatchKind kind;
  };
  FaultRates corrupt;
  corrupt.corrupt = 0.2;
  FaultRates cut;
  cut.cut = 0.2;
  const Case cases[] = {{"corrupt", corrupt, MismatchKind::kData},
                        {"cut", cut, MismatchKind::kLength}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseAdapter(1, FarEnd{}, c.faults);
    ASSERT_TRUE(StartHeadlessRun(context_));
    ASSERT_TRUE(Eventually([this] { return Slot(0).ErrorCount.load() >= 5; }));
    const FirstMismatch early = FirstMismatchOf(Slot(0));
    StopHeadlessRun(context_);

    const PortCounters counters = SnapshotPort(Slot(0), 1);
    EXPECT_EQ(counters.Mismatch.Kind, c.kind);
    // Kept once: later bad packets did not move it.
    EXPECT_EQ(counters.Mismatch.Packet, early.Packet);
    EXPECT_EQ(counters.Mismatch.Offset, early.Offset);
    EXPECT_GE(counters.Mismatch.Packet, 1);
    EXPECT_LE(counters.Mismatch.Packet, counters.PacketCount);
    EXPECT_GE(counters.Mismatch.Offset, 0);
    EXPECT_LT(counters.Mismatch.Offset, kPacket);
    EXPECT_GT(
        c.kind == MismatchKind::kData ? counters.DataMismatchCount : counters.LengthMismatchCount,
        0);

    // A new Start forgets it.
    UseAdapter(1, FarEnd{});
    ASSERT_TRUE(StartHeadlessRun(context_));
    ASSERT_TRUE(Eventually([this] { return Slot(0).GoodPacketCount.load() >= 10; }));
    StopHeadlessRun(context_);
    EXPECT_EQ(FirstMismatchOf(Slot(0)).Kind, MismatchKind::kNone);
  }
}

// A port that reached Pause After shows the count it ended with, however
// rarely its row is refreshed, and reads as ended rather than running.
TEST_F(RunSnapshotTest, APortEndedByPauseAfterShowsItsFinalCount) {
  struct Case {
    const char* name;
    int32_t mode;
    FarEndKind far;
    bool stays_open;  // Transmit only keeps the port open until Stop
  };
  const Case cases[] = {{"loopback", kLoopback, FarEndKind::kLoopback, false},
                        {"transmit only", kTransmitOnly, FarEndKind::kSink, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseAdapter(1, Far(c.far));
    TestSettings& test = context_.settings.Test;
    test.Mode = c.mode;
    test.PauseAfter = 50;
    test.UpdateInterval = 3600000;  // only the first packet refreshes on its own
    ASSERT_TRUE(StartHeadlessRun(context_));
    ASSERT_TRUE(Eventually([this] { return view_.Cell(0, kColumnPackets) == "50"; }))
        << view_.Cell(0, kColumnPackets);
    ASSERT_TRUE(Eventually([this, &c] { return Slot(0).InUse.load() == (c.stays_open ? 1 : 0); }));
    const RunSnapshot snapshot = TakeRunSnapshot(context_, 0.0);
    ASSERT_EQ(snapshot.Ports.size(), 1u);
    const PortCounters& counters = snapshot.Ports[0].Counters;
    EXPECT_EQ(counters.PacketCount, 50);
    EXPECT_TRUE(counters.Ended);
    EXPECT_EQ(counters.Open, c.stays_open);
    EXPECT_EQ(VerdictSinceStart(counters), PortRunVerdict::kClosed);
    StopHeadlessRun(context_);
    test.PauseAfter = 0;
    test.Mode = kLoopback;
  }
}

// A snapshot holds every port that got a row, with its row, open or not;
// the stop record's share of it is the open ones.
// Every port of the range has a row and a place in the snapshot; one that
// could not be opened fails, with what was tried and why, and stays out of
// the stop record.
TEST_F(RunSnapshotTest, TheSnapshotHoldsEveryPortOfTheRange) {
  UseAdapter(3, FarEnd{});
  std::shared_ptr<SimAdapter> adapter = adapter_;
  context_.devices.SetBackends({{.name = "fake", .open = [adapter](const PortRequest& request) {
                                   if (request.port == 2) {
                                     return OpenResult{nullptr, "/dev/ttyUSB1",
                                                       "/dev/ttyUSB1: in use (locked by another "
                                                       "tester or program)"};
                                   }
                                   return OpenResult{adapter->Open(request.port), "", ""};
                                 }}});
  ASSERT_TRUE(StartHeadlessRun(context_));
  // Each open port has judged packets of its own (on an unpaced line one
  // port may be far ahead of the other).
  ASSERT_TRUE(Eventually([this] {
    return Slot(0).GoodPacketCount.load() >= 5 && Slot(2).GoodPacketCount.load() >= 5;
  }));
  RunSnapshot snapshot = TakeRunSnapshot(context_, 0.0);
  ASSERT_EQ(snapshot.Ports.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(snapshot.Ports[i].Row, i);
    EXPECT_EQ(snapshot.Ports[i].Slot, i);
    EXPECT_EQ(snapshot.Ports[i].Opened, i != 1);
    EXPECT_EQ(snapshot.Ports[i].Counters.PortNumber, i + 1);
  }
  EXPECT_EQ(view_.Cell(1, kColumnPort), "Quarnex02");
  EXPECT_EQ(view_.Cell(1, kColumnStatus), "Not opened");
  const PortCounters& missing = snapshot.Ports[1].Counters;
  EXPECT_TRUE(missing.NotOpened);
  EXPECT_FALSE(missing.Open);
  EXPECT_EQ(missing.OpenPath, "/dev/ttyUSB1");
  EXPECT_EQ(missing.OpenReason, "in use (locked by another tester or program)");
  EXPECT_EQ(PortStatusText(snapshot.Ports[1]), "Not opened");
  EXPECT_EQ(VerdictSinceStart(missing), PortRunVerdict::kFailed);
  for (int i : {0, 2}) {
    EXPECT_TRUE(snapshot.Ports[i].Counters.Open);
    EXPECT_FALSE(snapshot.Ports[i].Counters.NotOpened);
    EXPECT_EQ(PortStatusText(snapshot.Ports[i]), "Success");
  }
  const std::vector<PortCounters> logged = StopRecordPorts(snapshot);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].PortNumber, 1);
  EXPECT_EQ(logged[1].PortNumber, 3);

  StopHeadlessRun(context_);
  snapshot = TakeRunSnapshot(context_, 0.0);
  ASSERT_EQ(snapshot.Ports.size(), 3u);
  for (const PortSnapshot& port : snapshot.Ports) EXPECT_FALSE(port.Counters.Open);
  EXPECT_TRUE(StopRecordPorts(snapshot).empty());
  EXPECT_TRUE(snapshot.Ports[1].Counters.NotOpened) << "until the next Start";
}

// A port's number is PortIndex + its slot, whatever its label looks like:
// numbers from 0 and past 99 keep their slot, their row and their place in
// the stop record.
TEST_F(RunSnapshotTest, PortsNumberedFromZeroOrPastNinetyNineKeepSlotAndNumber) {
  for (const int32_t first : {0, 127}) {
    SCOPED_TRACE(first);
    UseAdapter(3, FarEnd{});
    std::shared_ptr<SimAdapter> adapter = adapter_;
    context_.devices.SetBackends(
        {{.name = "fake", .open = [adapter, first](const PortRequest& request) {
            // The adapter's ports are 1..3.
            return OpenResult{adapter->Open(request.port - first + 1), "", ""};
          }}});
    context_.settings.Test.PortIndex = first;
    ASSERT_TRUE(StartHeadlessRun(context_));
    ASSERT_TRUE(Eventually([this] {
      for (int i = 0; i < 3; ++i) {
        if (Slot(i).GoodPacketCount.load() < 1) return false;
      }
      return true;
    }));
    const RunSnapshot snapshot = TakeRunSnapshot(context_, 0.0);
    StopHeadlessRun(context_);
    ASSERT_EQ(snapshot.Ports.size(), 3u);
    const std::vector<PortCounters> logged = StopRecordPorts(snapshot);
    ASSERT_EQ(logged.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      const PortSnapshot& port = snapshot.Ports[i];
      EXPECT_EQ(port.Slot, i);
      EXPECT_EQ(port.Row, i);
      EXPECT_TRUE(port.Opened);
      EXPECT_EQ(port.Counters.PortNumber, first + i);
      EXPECT_EQ(view_.Cell(i, kColumnPort), PortLabel(first + i));
      EXPECT_EQ(logged[i].PortNumber, first + i);
    }
  }
}

// A port that judged no packet has no status to show in the snapshot the
// window takes at Stop (before the workers end): not "Write failed" nor
// "Read failed" for a transfer that never failed.
TEST_F(RunSnapshotTest, APortWithoutAVerdictHasNoStatusText) {
  FarEnd silent;
  silent.kind = FarEndKind::kSink;
  UseAdapter(1, silent);
  TestSettings& test = context_.settings.Test;
  for (int32_t mode : {kReceiveOnly, kLoopback}) {
    SCOPED_TRACE(mode);
    test.Mode = mode;
    ASSERT_TRUE(StartHeadlessRun(context_));
    const RunSnapshot snapshot = TakeRunSnapshot(context_, 0.0);
    StopHeadlessRun(context_);
    ASSERT_EQ(snapshot.Ports.size(), 1u);
    ASSERT_EQ(snapshot.Ports[0].Counters.GoodPacketCount + snapshot.Ports[0].Counters.ErrorCount,
              0);
    EXPECT_EQ(PortStatusText(snapshot.Ports[0]), "");
  }
  test.Mode = kLoopback;
}

}  // namespace
}  // namespace quarnex
