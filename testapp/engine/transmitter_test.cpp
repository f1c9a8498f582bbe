#include "testapp/engine/transmitter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/engine/transfer_test_support.h"

namespace quarnex {
namespace {

using namespace transfer_test;

// One port on a fresh device. The device is closed before the port goes, so
// no transfer is left pending on a record that no longer exists.
struct TestPort {
  HookedDevice device;
  PortContext port;
  explicit TestPort(RunContext& context) {
    port.Run = &context;
    port.Device.store(&device);
    port.Row = 0;
    port.EndTime.store(kUnstamped);
  }
  ~TestPort() { device.Close(); }
};

std::vector<uint32_t> WriteLengths(const RecordingDevice& device) {
  std::vector<uint32_t> lengths;
  for (const auto& request : device.Requests()) {
    if (request.op == Op::kWrite) lengths.push_back(request.length);
  }
  return lengths;
}

class TransmitterTest : public ::testing::Test {
 protected:
  // The test's own run context, on the heap (RunState holds 128 slots).
  // Declared first, so it is destroyed after everything its runs used.
  std::unique_ptr<RunContext> owned_context_ = std::make_unique<RunContext>();
  RunContext& context_ = *owned_context_;

  void SetUp() override { ResetTransferRun(context_, kTransmitOnly, view_); }
  std::vector<std::string> Progress() const { return view_.CellHistory(0, kColumnStatus); }

  RecordingView view_;
  const std::vector<uint8_t> packet_ = Pattern(kPacket, 3);
};

TEST_F(TransmitterTest, EachWayAWriteEndsHasItsResult) {
  enum Then { kNothing, kComplete, kStop, kCompleteAndStop, kNoExitEvent };
  struct Case {
    const char* name;
    Answer answer;
    Then then;
    uint32_t complete_error;
    int64_t complete_count;
    int32_t expected;
    bool end_stamped;
    size_t orphans;  // the main record, kept while the write may still run
  };
  const Case cases[] = {
      {"done at once, full", Done(), kNothing, 0, 0, kWriteDoneImmediate, true, 0},
      {"done at once, short", Done(100), kNothing, 0, 0, kWriteShort, true, 0},
      {"refused", Fail(kErrorGenFailure), kNothing, 0, 0, kWriteRefused, false, 0},
      {"pending, full", Pending(), kComplete, kErrorSuccess, kPacket, kWriteDoneDeferred, true, 0},
      {"pending, short", Pending(), kComplete, kErrorSuccess, 100, kWriteIncomplete, true, 0},
      {"pending, aborted", Pending(), kComplete, kErrorOperationAborted, 0, kWriteCancelled, false,
       0},
      {"pending, other error", Pending(), kComplete, kErrorGenFailure, 0, kWriteIncomplete, false,
       0},
      {"pending, run stopped", Pending(), kStop, 0, 0, kWriteStopped, false, 1},
      {"pending, completion beats stop", Pending(), kCompleteAndStop, kErrorSuccess, kPacket,
       kWriteDoneDeferred, true, 0},
      {"pending, wait fails", Pending(), kNoExitEvent, 0, 0, kWriteWaitFailed, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPort t(context_);
    context_.run.ExitEvent =
        c.then == kNoExitEvent ? nullptr : MakeEvent(Event::Kind::kManualReset);
    t.device.Script(Op::kWrite, c.answer);
    t.device.AfterWrite([&](Completion*) {
      if (c.then == kComplete || c.then == kCompleteAndStop) {
        t.device.CompleteNext(Op::kWrite, c.complete_error, {}, c.complete_count);
      }
      if (c.then == kStop || c.then == kCompleteAndStop) context_.run.ExitEvent->Set();
    });

    EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), c.expected);

    EXPECT_EQ(t.port.EndTime.load() != kUnstamped, c.end_stamped);
    if (c.end_stamped) {
      EXPECT_GE(t.port.EndTime.load(), t.port.StartTime.load());
    }
    EXPECT_EQ(t.port.Orphans.Size(), c.orphans);
    ASSERT_EQ(t.device.Requests().size(), 1u);
    EXPECT_EQ(t.device.Requests()[0].input, packet_);
    EXPECT_TRUE(t.device.Requests()[0].overlapped);
  }
}

TEST_F(TransmitterTest, ClosedPortRefusesTheWrite) {
  TestPort t(context_);
  t.port.Device.store(nullptr);
  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteRefused);
}

TEST_F(TransmitterTest, LoopbackLeavesTheEndStampToTheReceiver) {
  context_.settings.Test.Mode = kLoopback;
  TestPort t(context_);
  t.device.Script(Op::kWrite, Done());
  t.device.Script(Op::kWrite, Pending());
  t.device.AfterWrite({});
  t.device.AfterWrite(
      [&](Completion*) { t.device.CompleteNext(Op::kWrite, kErrorSuccess, {}, kPacket); });

  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneImmediate);
  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneDeferred);
  EXPECT_EQ(t.port.EndTime.load(), kUnstamped);
}

TEST_F(TransmitterTest, StoppedWriteKeepsItsRecordUntilTheDeviceEndsIt) {
  TestPort t(context_);
  t.device.Script(Op::kWrite, Pending());
  t.device.AfterWrite([this](Completion*) { context_.run.ExitEvent->Set(); });

  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteStopped);
  ASSERT_EQ(t.port.Orphans.Size(), 1u);
  t.port.Orphans.Sweep();
  EXPECT_EQ(t.port.Orphans.Size(), 1u);  // still outstanding
  // The device still writes into the record; under ASan a freed record
  // would show here.
  ASSERT_TRUE(t.device.CompleteNext(Op::kWrite, kErrorSuccess, {}, kPacket));
  t.port.Orphans.Sweep();
  EXPECT_EQ(t.port.Orphans.Size(), 0u);
}

TEST_F(TransmitterTest, TransmitOnlySendsTheFileInPacketSizedChunks) {
  const std::vector<uint8_t> file = Pattern(2 * kPacket + kPacket / 2, 11);
  UseRunFile(context_, file, kTransmitOnly);
  TestPort t(context_);
  t.device.Script(Op::kWrite, Done());
  t.device.Script(Op::kWrite, Done());
  t.device.Script(Op::kWrite, Pending());
  t.device.AfterWrite({});
  t.device.AfterWrite({});
  t.device.AfterWrite(
      [&](Completion*) { t.device.CompleteNext(Op::kWrite, kErrorSuccess, {}, kPacket / 2); });

  // The data argument is ignored in file mode.
  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneDeferred);

  EXPECT_EQ(WriteLengths(t.device), (std::vector<uint32_t>{kPacket, kPacket, kPacket / 2}));
  const auto requests = t.device.Requests();
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].input,
              std::vector<uint8_t>(file.begin() + i * kPacket,
                                   file.begin() + i * kPacket + requests[i].length));
  }
  // The number is the chunk just written, not the running total; the last
  // chunk shows nothing.
  EXPECT_EQ(Progress(),
            (std::vector<std::string>{"1024 bytes transmitted", "1024 bytes transmitted"}));
  EXPECT_EQ(t.port.TxFileOffset, file.size());
  EXPECT_NE(t.port.EndTime.load(), kUnstamped);
}

TEST_F(TransmitterTest, FileNoLongerThanAPacketIsOneWrite) {
  const std::vector<uint8_t> file = Pattern(300, 5);
  UseRunFile(context_, file, kTransmitOnly);
  TestPort t(context_);
  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), 300), kWriteDoneImmediate);
  EXPECT_EQ(WriteLengths(t.device), std::vector<uint32_t>{300});
  EXPECT_EQ(t.device.Requests()[0].input, file);
  EXPECT_TRUE(Progress().empty());
}

TEST_F(TransmitterTest, LoopbackWithAFileSendsOnlyItsFirstPacket) {
  const std::vector<uint8_t> file = Pattern(2 * kPacket + kPacket / 2, 11);
  UseRunFile(context_, file, kLoopback);
  TestPort t(context_);
  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneImmediate);
  ASSERT_EQ(WriteLengths(t.device), std::vector<uint32_t>{kPacket});
  EXPECT_EQ(t.device.Requests()[0].input,
            std::vector<uint8_t>(file.begin(), file.begin() + kPacket));
  EXPECT_TRUE(Progress().empty());
}

TEST_F(TransmitterTest, ShortOrFailedChunkEndsTheFileWithItsResult) {
  struct Case {
    const char* name;
    Answer second;
    int32_t expected;
  };
  const Case cases[] = {
      {"short", Done(100), kWriteShort},
      {"refused", Fail(kErrorGenFailure), kWriteRefused},
  };
  const std::vector<uint8_t> file = Pattern(2 * kPacket + kPacket / 2, 11);
  UseRunFile(context_, file, kTransmitOnly);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPort t(context_);
    t.device.Script(Op::kWrite, Done());
    t.device.Script(Op::kWrite, c.second);
    EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), c.expected);
    EXPECT_EQ(WriteLengths(t.device).size(), 2u);
    EXPECT_EQ(t.port.TxFileOffset, kPacket);
  }
}

TEST_F(TransmitterTest, PauseEndsTheFileAfterTheChunkAndTheNextCallStartsOver) {
  const std::vector<uint8_t> file = Pattern(2 * kPacket + kPacket / 2, 11);
  UseRunFile(context_, file, kTransmitOnly);
  TestPort t(context_);
  context_.run.PauseFlag.store(1);
  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneImmediate);
  EXPECT_EQ(WriteLengths(t.device).size(), 1u);
  EXPECT_EQ(Progress().size(), 1u);

  context_.run.PauseFlag.store(0);
  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneImmediate);
  const auto requests = t.device.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].input, requests[0].input);  // the file from its first byte again
  EXPECT_EQ(t.port.TxFileOffset, file.size());
}

TEST_F(TransmitterTest, ExtraWritesQueueCopiesAheadOfTheMainWrite) {
  struct Case {
    int32_t overlap_write;
    int32_t number_overlap;
    size_t writes;
  };
  const Case cases[] = {
      {1, 3, 4}, {1, 0, 1}, {1, -2, 1}, {0, 3, 1}, {1, 5000, kMaxOverlap + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "OverlapWrite " << c.overlap_write << " NumberOverlap " << c.number_overlap);
    context_.options.OverlapWrite.store(c.overlap_write);
    context_.options.NumberOverlap.store(c.number_overlap);
    TestPort t(context_);
    const std::vector<uint8_t> packet = Pattern(16, 9);
    EXPECT_EQ(TransmitPacket(t.port, packet.data(), 16), kWriteDoneImmediate);
    const auto requests = t.device.Requests();
    EXPECT_EQ(requests.size(), c.writes);
    for (const auto& request : requests) {
      EXPECT_EQ(request.input, packet);
      EXPECT_TRUE(request.overlapped);
    }
  }
}

TEST_F(TransmitterTest, DelayAppliesWithoutExtraWrites) {
  for (int32_t number_overlap : {0, -1}) {
    SCOPED_TRACE(number_overlap);
    context_.settings.Test.Delay = 20;
    context_.options.OverlapWrite.store(1);
    context_.options.NumberOverlap.store(number_overlap);
    TestPort t(context_);
    EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneImmediate);
    // The delay lies between the start stamp and the write.
    EXPECT_GE(t.port.EndTime.load() - t.port.StartTime.load(), 20.0);
  }
}

TEST_F(TransmitterTest, PendingExtraWritesStayAliveUntilTheDeviceEndsThem) {
  context_.options.OverlapWrite.store(1);
  context_.options.NumberOverlap.store(3);
  TestPort t(context_);
  for (int i = 0; i < 3; ++i) t.device.Script(Op::kWrite, Pending());

  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneImmediate);
  EXPECT_EQ(t.device.PendingCount(Op::kWrite), 3u);
  ASSERT_EQ(t.port.Orphans.Size(), 3u);

  // Each has its own record: completing one retires only that one.
  ASSERT_TRUE(t.device.CompleteNext(Op::kWrite, kErrorSuccess, {}, kPacket));
  t.port.Orphans.Sweep();
  EXPECT_EQ(t.port.Orphans.Size(), 2u);

  // The purge after a bad packet ends the rest; the next call sweeps them.
  t.device.Purge(kPurgeAll);
  context_.options.OverlapWrite.store(0);
  EXPECT_EQ(TransmitPacket(t.port, packet_.data(), kPacket), kWriteDoneImmediate);
  EXPECT_EQ(t.port.Orphans.Size(), 0u);
}

}  // namespace
}  // namespace quarnex
