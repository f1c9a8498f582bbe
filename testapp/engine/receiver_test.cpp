#include "testapp/engine/receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testapp/engine/first_mismatch.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/transfer_test_support.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/transmitter.h"
#include "testapp/platform/test_support.h"

namespace quarnex {
namespace {

using namespace transfer_test;

constexpr uint32_t kEarlierLength = 77;

// One port on a fresh device, with a receive buffer and a writer event. The
// device is closed before the port goes, so no transfer is left pending on a
// record or buffer that no longer exists.
struct TestPort {
  HookedDevice device;
  PortContext port;
  Bytes buffer = Bytes(kPacket);
  explicit TestPort(RunContext& context) {
    port.Run = &context;
    port.Device.store(&device);
    port.Row = 0;
    port.EndTime.store(kUnstamped);
    port.LastNonEmptyReadLength.store(kEarlierLength);
    port.LastWriteResult.store(kWriteDoneImmediate);
    port.LastReadResult.store(kReadDoneImmediate);
    port.WriteEvent = MakeEvent(Event::Kind::kAutoReset);
  }
  ~TestPort() { device.Close(); }

  int32_t Receive(uint32_t length = kPacket) { return ReceivePacket(port, buffer.data(), length); }
  Bytes LastData() {
    std::lock_guard<std::mutex> lock(port.ReceiveMutex);
    return port.LastData;
  }
};

Bytes Slice(const Bytes& bytes, size_t from, size_t size) {
  return Bytes(bytes.begin() + from, bytes.begin() + from + size);
}

Bytes ReadFile(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ReceiverTest : public ::testing::Test {
 protected:
  // The test's own run context, on the heap (RunState holds 128 slots).
  // Declared first, so it is destroyed after everything its runs used.
  std::unique_ptr<RunContext> owned_context_ = std::make_unique<RunContext>();
  RunContext& context_ = *owned_context_;

  void SetUp() override {
    ResetTransferRun(context_, kReceiveOnly, view_);
    ASSERT_TRUE(work_.entered());
  }
  std::vector<std::string> Progress() const { return view_.CellHistory(0, kColumnStatus); }

  RecordingView view_;
  // The dump files go to the current directory: a fresh one per test.
  TempWorkFolder work_{"receiver_test_"};
  const Bytes packet_ = Pattern(kPacket, 3);
  const Bytes file_ = Pattern(2 * kPacket + kPacket / 2, 11);
};

TEST_F(ReceiverTest, EachWayAReadEndsHasItsResult) {
  enum Then { kNothing, kComplete, kStop, kCompleteAndStop, kCompleteUnseenAndStop, kNoExitEvent };
  struct Case {
    const char* name;
    Answer answer;
    Then then;
    uint32_t complete_error;
    uint32_t delivered;
    int32_t expected;
    bool end_stamped;
    bool left_outstanding;
  };
  const Case cases[] = {
      {"done at once, full", DoneWith(Pattern(kPacket, 1)), kNothing, 0, kPacket,
       kReadDoneImmediate, true, false},
      {"done at once, short", DoneWith(Pattern(100, 1)), kNothing, 0, 100, kReadShort, true, false},
      {"refused", Fail(kErrorGenFailure), kNothing, 0, 0, kReadRefused, false, false},
      {"pending, full", Pending(), kComplete, kErrorSuccess, kPacket, kReadDoneDeferred, true,
       false},
      {"pending, short", Pending(), kComplete, kErrorSuccess, 100, kReadLengthMismatch, true,
       false},
      {"pending, aborted", Pending(), kComplete, kErrorOperationAborted, 0, kReadCancelled, false,
       false},
      {"pending, other error", Pending(), kComplete, kErrorGenFailure, 0, kReadError, false, false},
      {"pending, run stopped", Pending(), kStop, 0, 0, kReadError, false, true},
      {"pending, completion beats stop", Pending(), kCompleteAndStop, kErrorSuccess, kPacket,
       kReadDoneDeferred, true, false},
      // Completed just as the stop came, but the wait saw the stop first.
      {"pending, stopped but completed in time", Pending(), kCompleteUnseenAndStop, kErrorSuccess,
       kPacket, kReadDoneDeferred, false, false},
      {"pending, wait fails", Pending(), kNoExitEvent, 0, 0, kReadWaitFailed, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPort t(context_);
    context_.run.ExitEvent =
        c.then == kNoExitEvent ? nullptr : MakeEvent(Event::Kind::kManualReset);
    t.device.Script(Op::kRead, c.answer);
    const Bytes sent = Pattern(c.delivered, 1);
    t.device.AfterRead([&](Completion* record) {
      if (c.then == kComplete || c.then == kCompleteAndStop || c.then == kCompleteUnseenAndStop) {
        t.device.CompleteNext(Op::kRead, c.complete_error,
                              c.complete_error == kErrorSuccess ? sent : Bytes{});
      }
      if (c.then == kCompleteUnseenAndStop) record->event->Reset();
      if (c.then == kStop || c.then == kCompleteAndStop || c.then == kCompleteUnseenAndStop) {
        context_.run.ExitEvent->Set();
      }
    });

    EXPECT_EQ(t.Receive(), c.expected);

    EXPECT_EQ(t.port.EndTime.load() != kUnstamped, c.end_stamped);
    EXPECT_EQ(t.port.Orphans.Size(), c.left_outstanding ? 1u : 0u);
    EXPECT_EQ(t.port.LastReadLength.load(), c.delivered);
    // A read that delivered nothing leaves the viewer's length and copy alone.
    EXPECT_EQ(t.port.LastNonEmptyReadLength.load(), c.delivered > 0 ? c.delivered : kEarlierLength);
    EXPECT_EQ(t.LastData(), c.delivered > 0 ? sent : Bytes{});
    if (c.delivered > 0) {
      EXPECT_EQ(Slice(t.buffer, 0, c.delivered), sent);
    }
  }
}

// In Receive only a read that blocks after the line has sent data is ended
// by the timeout (a purge: the read completes as aborted); a device that is
// gone marks the port lost, whether it fails the read at once or later.
TEST_F(ReceiverTest, BlockedReadTimesOutAndAGoneDeviceIsLost) {
  context_.settings.Test.TimeoutBlockedThreads = 1;
  context_.settings.Timeouts = {20, 0};
  context_.run.ExpectedPacketTime.store(0.0);
  {
    TestPort t(context_);
    t.device.Script(Op::kRead, DoneWith(packet_));
    t.device.Script(Op::kRead, Pending());
    EXPECT_EQ(t.Receive(), kReadDoneImmediate);
    EXPECT_EQ(t.port.PendingTimeout.load(), kTimeoutNone);
    EXPECT_EQ(t.Receive(), kReadCancelled);
    EXPECT_EQ(t.port.PendingTimeout.load(), kTimeoutRead);
    EXPECT_EQ(t.port.Lost.load(), 0);
  }
  for (bool at_once : {true, false}) {
    SCOPED_TRACE(at_once ? "at once" : "while pending");
    TestPort t(context_);
    if (at_once) {
      t.device.Script(Op::kRead, Fail(kErrorDeviceNotConnected));
    } else {
      t.device.Script(Op::kRead, Pending());
      t.device.AfterRead(
          [&t](Completion*) { t.device.CompleteNext(Op::kRead, kErrorDeviceNotConnected); });
    }
    EXPECT_EQ(t.Receive(), at_once ? kReadRefused : kReadError);
    EXPECT_EQ(t.port.Lost.load(), 1);
    EXPECT_EQ(t.port.PendingTimeout.load(), kTimeoutNone);
  }
}

TEST_F(ReceiverTest, ClosedPortRefusesTheRead) {
  TestPort t(context_);
  t.port.Device.store(nullptr);
  EXPECT_EQ(t.Receive(), kReadRefused);
}

size_t CountOf(const std::vector<RecordingDevice::Request>& requests, Op op) {
  return static_cast<size_t>(
      std::count_if(requests.begin(), requests.end(), [op](const auto& r) { return r.op == op; }));
}

// In Loopback a read that went pending sends its packet on the reader's own
// thread, after the read was posted, and stores the write's result for the
// verdict; the writer thread is not woken.
TEST_F(ReceiverTest, OnlyAPendingLoopbackReadSendsItsPacket) {
  struct Case {
    const char* name;
    int32_t mode;
    int32_t pause;
    bool pending;
    bool sent;
  };
  const Case cases[] = {
      {"loopback, pending", kLoopback, 0, true, true},
      {"loopback, done at once", kLoopback, 0, false, false},
      {"loopback, paused", kLoopback, 1, true, false},
      {"receive only", kReceiveOnly, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    context_.settings.Test.Mode = c.mode;
    context_.run.PauseFlag.store(c.pause);
    TestPort t(context_);
    t.port.LastWriteResult.store(kWriteShort);  // the previous packet's
    if (c.pending) t.device.Script(Op::kRead, Pending());
    t.device.AfterRead([&](Completion*) {
      if (c.pending) t.device.CompleteNext(Op::kRead, kErrorSuccess, packet_);
    });

    t.Receive();

    const auto requests = t.device.Requests();
    ASSERT_EQ(CountOf(requests, Op::kWrite), c.sent ? 1u : 0u);
    EXPECT_EQ(requests.front().op, Op::kRead);
    if (c.sent) {
      EXPECT_EQ(requests.back().length, kPacket);
    }
    EXPECT_EQ(t.port.LastWriteResult.load(), c.sent ? kWriteDoneImmediate : kWriteShort);
    EXPECT_EQ(t.port.WritesReleased.load(), c.sent ? 1u : 0u);
    EXPECT_EQ(t.port.WritesStored.load(), t.port.WritesReleased.load());
    EXPECT_FALSE(t.port.WriteEvent->IsSet());
  }
}

// The reader that sends its own packet ends a write that blocks after the
// timeout, as it ends a blocked read: the purge ends both, and the timeout
// is the write's.
TEST_F(ReceiverTest, LoopbackReaderEndsItsBlockedWrite) {
  context_.settings.Test.Mode = kLoopback;
  context_.settings.Test.TimeoutBlockedThreads = 1;
  context_.settings.Timeouts = {20, 0};
  context_.run.ExpectedPacketTime.store(0.0);
  TestPort t(context_);
  t.device.Script(Op::kRead, Pending());
  t.device.Script(Op::kWrite, Pending());

  EXPECT_EQ(t.Receive(), kReadCancelled);

  EXPECT_EQ(t.port.PendingTimeout.load(), kTimeoutWrite);
  EXPECT_EQ(t.port.LastWriteResult.load(), kWriteCancelled);
  EXPECT_EQ(t.port.WritesStored.load(), t.port.WritesReleased.load());
  EXPECT_EQ(t.device.PurgeCount(), 1);
}

TEST_F(ReceiverTest, FileArrivesInChunksWithARunningTotal) {
  UseRunFile(context_, file_, kReceiveOnly);
  TestPort t(context_);
  t.device.Script(Op::kRead, DoneWith(Slice(file_, 0, kPacket)));
  t.device.Script(Op::kRead, Pending());
  t.device.Script(Op::kRead, Pending());
  t.device.AfterRead({});
  t.device.AfterRead([&](Completion*) {
    t.device.CompleteNext(Op::kRead, kErrorSuccess, Slice(file_, kPacket, kPacket));
  });
  t.device.AfterRead([&](Completion*) {
    t.device.CompleteNext(Op::kRead, kErrorSuccess, Slice(file_, 2 * kPacket, kPacket / 2));
  });

  EXPECT_EQ(t.Receive(), kReadDoneDeferred);  // the third read's result

  const auto requests = t.device.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].length, kPacket / 2);
  EXPECT_EQ(Progress(), (std::vector<std::string>{"1024 bytes received", "2048 bytes received"}));
  EXPECT_EQ(t.port.FileOffset, file_.size());
  EXPECT_EQ(t.port.LastReadLength.load(), kPacket / 2);
  EXPECT_EQ(t.LastData(), Slice(file_, 2 * kPacket, kPacket / 2));
  EXPECT_FALSE(std::filesystem::exists("yy.txt"));
}

TEST_F(ReceiverTest, FileNoLongerThanAPacketIsOneRead) {
  const Bytes file = Pattern(300, 5);
  UseRunFile(context_, file, kReceiveOnly);
  TestPort t(context_);
  t.device.Script(Op::kRead, DoneWith(file));
  EXPECT_EQ(t.Receive(300), kReadDoneImmediate);
  EXPECT_EQ(t.device.Requests().size(), 1u);
  EXPECT_TRUE(Progress().empty());
}

TEST_F(ReceiverTest, DifferingChunkIsDumpedBothWaysAndFailsTheRead) {
  UseRunFile(context_, file_, kReceiveOnly);
  // Dumps of an earlier, longer mismatch must not survive behind the new ones.
  std::ofstream("yy.txt") << std::string(4000, 'x');
  std::ofstream("zz.txt") << std::string(4000, 'x');
  Bytes second = Slice(file_, kPacket, kPacket);
  second[500] ^= 0x20;
  TestPort t(context_);
  t.device.Script(Op::kRead, DoneWith(Slice(file_, 0, kPacket)));
  t.device.Script(Op::kRead, DoneWith(second));

  EXPECT_EQ(t.Receive(), kReadError);

  EXPECT_EQ(t.device.Requests().size(), 2u);
  EXPECT_EQ(t.port.FileOffset, 2 * kPacket);
  EXPECT_EQ(ReadFile("yy.txt"), second);
  EXPECT_EQ(ReadFile("zz.txt"), Slice(file_, kPacket, kPacket));
  EXPECT_EQ(Progress(), std::vector<std::string>{"1024 bytes received"});
  // The packet about to be judged, and the byte's place in the file.
  const FirstMismatch mismatch = FirstMismatchOf(t.port);
  EXPECT_EQ(mismatch.Kind, MismatchKind::kData);
  EXPECT_EQ(mismatch.Packet, 1);
  EXPECT_EQ(mismatch.Offset, kPacket + 500);
}

TEST_F(ReceiverTest, ShortChunkKeepsItsResultAndWritesNoDump) {
  struct Case {
    const char* name;
    bool pending;
    int32_t expected;
  };
  const Case cases[] = {
      {"short at once", false, kReadShort},
      {"short deferred", true, kReadLengthMismatch},
  };
  UseRunFile(context_, file_, kReceiveOnly);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPort t(context_);
    const Bytes part = Slice(file_, kPacket, 100);
    t.device.Script(Op::kRead, DoneWith(Slice(file_, 0, kPacket)));
    t.device.Script(Op::kRead, c.pending ? Pending() : DoneWith(part));
    t.device.AfterRead({});
    t.device.AfterRead([&](Completion*) {
      if (c.pending) t.device.CompleteNext(Op::kRead, kErrorSuccess, part);
    });

    EXPECT_EQ(t.Receive(), c.expected);
    EXPECT_EQ(t.port.FileOffset, kPacket + 100);
    EXPECT_EQ(t.port.LastReadLength.load(), 100u);
    EXPECT_FALSE(std::filesystem::exists("yy.txt"));
    EXPECT_FALSE(std::filesystem::exists("zz.txt"));
  }
}

TEST_F(ReceiverTest, DumpFileReportsAFailedOpen) {
  const Bytes bytes = Pattern(10, 1);
  EXPECT_EQ(WriteDumpFile("no-such-folder/yy.txt", bytes.data(), bytes.size()), 0);
  EXPECT_EQ(WriteDumpFile("yy.txt", bytes.data(), bytes.size()), 1);
  EXPECT_EQ(ReadFile("yy.txt"), bytes);
}

TEST_F(ReceiverTest, ExtraReadsArePostedAheadOfTheMainRead) {
  struct Case {
    int32_t overlap_read;
    int32_t number_overlap;
    size_t reads;
  };
  const Case cases[] = {
      {1, 2, 3}, {1, 0, 1}, {1, -1, 1}, {0, 2, 1}, {1, 5000, kMaxOverlap + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "OverlapRead " << c.overlap_read << " NumberOverlap " << c.number_overlap);
    context_.options.OverlapRead.store(c.overlap_read);
    context_.options.NumberOverlap.store(c.number_overlap);
    TestPort t(context_);
    EXPECT_EQ(t.Receive(16), kReadDoneImmediate);
    const auto requests = t.device.Requests();
    EXPECT_EQ(requests.size(), c.reads);
    for (const auto& request : requests) {
      EXPECT_EQ(request.length, 16u);
      EXPECT_TRUE(request.overlapped);
    }
  }
}

TEST_F(ReceiverTest, PendingExtraReadsStayAliveUntilTheDeviceEndsThem) {
  context_.options.OverlapRead.store(1);
  context_.options.NumberOverlap.store(2);
  TestPort t(context_);
  t.device.Script(Op::kRead, Pending());
  t.device.Script(Op::kRead, Pending());
  t.device.Script(Op::kRead, DoneWith(packet_));

  EXPECT_EQ(t.Receive(), kReadDoneImmediate);
  ASSERT_EQ(t.port.Orphans.Size(), 2u);

  // The device writes a frame into the first extra buffer; under ASan a
  // freed buffer would show here.
  ASSERT_TRUE(t.device.CompleteNext(Op::kRead, kErrorSuccess, packet_));
  t.port.Orphans.Sweep();
  EXPECT_EQ(t.port.Orphans.Size(), 1u);

  // Closing the port ends the other one.
  t.device.Close();
  t.port.Orphans.Sweep();
  EXPECT_EQ(t.port.Orphans.Size(), 0u);
}

}  // namespace
}  // namespace quarnex
