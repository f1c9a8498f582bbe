#include "testapp/engine/verdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "testapp/driver/recording_device.h"
#include "testapp/engine/first_mismatch.h"
#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/receiver.h"
#include "testapp/engine/row_update.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/transmitter.h"
#include "testapp/report/recording_view.h"
#include "testapp/report/row_text.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

constexpr int32_t kPacket = 64;

// A port in use with a receive buffer that holds the transmitted pattern.
struct TestPort {
  RecordingDevice device;
  PortContext port;
  std::vector<uint8_t> buffer;
  explicit TestPort(RunContext& context)
      : buffer(context.run.TxPattern.begin(), context.run.TxPattern.begin() + kPacket) {
    port.Run = &context;
    port.InUse.store(1);
    port.Device.store(&device);
    port.Row = 0;
    port.ReceiveBuffer.store(buffer.data());
    port.ReceiveBufferSize.store(kPacket);
  }
  void Results(int32_t write, int32_t read) {
    port.LastWriteResult.store(write);
    port.LastReadResult.store(read);
  }
  void Times(double start, double end) {
    port.StartTime.store(start);
    port.EndTime.store(end);
  }
};

class VerdictTest : public ::testing::Test {
 protected:
  // The test's own run context, on the heap (RunState holds 128 slots).
  // Declared first, so it is destroyed after everything its runs used.
  std::unique_ptr<RunContext> owned_context_ = std::make_unique<RunContext>();
  RunContext& context_ = *owned_context_;

  void SetUp() override {
    Settings& settings = context_.settings;
    settings.Test = TestSettings{};
    settings.Test.Mode = kLoopback;
    settings.PacketSize = kPacket;
    for (int i = 0; i < kPacket; ++i)
      context_.run.TxPattern[i] = static_cast<uint8_t>('A' + i % 26);
    context_.run.StopFlag.store(0);
    context_.run.ExpectedPacketTime.store(12.34);
    view_.InsertRow(0, "Quarnex01");
    context_.SetOutputs(&view_, &view_);
  }
  std::vector<std::string> RowCells() const {
    return {view_.Cell(0, kColumnPackets), view_.Cell(0, kColumnErrors), view_.Cell(0, kColumnTime),
            view_.Cell(0, kColumnStatus)};
  }

  RecordingView view_;
};

TEST_F(VerdictTest, VerdictByMode) {
  enum Outcome { kNoVerdict, kGood, kWriteFailed, kReadFailed, kLengthMismatch, kDataMismatch };
  struct Case {
    const char* name;
    int32_t mode;
    int32_t write;
    int32_t read;
    bool data_differs;
    Outcome outcome;
  };
  const Case cases[] = {
      {"loopback, all full and equal", kLoopback, kWriteDoneDeferred, kReadDoneDeferred, false,
       kGood},
      {"loopback, data differs", kLoopback, kWriteDoneImmediate, kReadDoneImmediate, true,
       kDataMismatch},
      {"loopback, data differs, write short", kLoopback, kWriteShort, kReadDoneImmediate, true,
       kWriteFailed},
      {"loopback, write short, read equal", kLoopback, kWriteShort, kReadDoneDeferred, false,
       kGood},
      {"loopback, read short at once", kLoopback, kWriteDoneImmediate, kReadShort, false,
       kReadFailed},
      {"loopback, read short deferred", kLoopback, kWriteDoneImmediate, kReadLengthMismatch, false,
       kLengthMismatch},
      {"loopback, read failed, write stopped", kLoopback, kWriteStopped, kReadError, false,
       kWriteFailed},
      {"loopback, no write yet", kLoopback, kWriteNone, kReadDoneDeferred, false, kNoVerdict},
      {"loopback, no read yet", kLoopback, kWriteDoneDeferred, kReadNone, false, kNoVerdict},
      {"receive only, full read, other bytes", kReceiveOnly, kWriteNone, kReadDoneDeferred, true,
       kGood},
      {"receive only, read error", kReceiveOnly, kWriteNone, kReadError, false, kReadFailed},
      {"receive only, read short deferred", kReceiveOnly, kWriteRefused, kReadLengthMismatch, false,
       kLengthMismatch},
      {"receive only, no read yet", kReceiveOnly, kWriteDoneDeferred, kReadNone, false, kNoVerdict},
      {"transmit only, full write", kTransmitOnly, kWriteDoneImmediate, kReadNone, false, kGood},
      {"transmit only, write short", kTransmitOnly, kWriteShort, kReadNone, false, kWriteFailed},
      {"transmit only, write cancelled", kTransmitOnly, kWriteCancelled, kReadDoneDeferred, false,
       kWriteFailed},
      {"transmit only, no write yet", kTransmitOnly, kWriteNone, kReadDoneDeferred, false,
       kNoVerdict},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    context_.settings.Test.Mode = c.mode;
    TestPort t(context_);
    t.Results(c.write, c.read);
    if (c.data_differs) t.buffer[kPacket - 1] ^= 1;
    t.port.PacketOk.store(5);  // neither verdict

    EXPECT_EQ(JudgePacket(t.port), c.outcome == kNoVerdict ? 0 : 1);

    const bool bad = c.outcome != kNoVerdict && c.outcome != kGood;
    EXPECT_EQ(t.port.PacketCount.load(), 1);
    EXPECT_EQ(t.port.GoodPacketCount.load(), c.outcome == kGood ? 1 : 0);
    EXPECT_EQ(t.port.ErrorCount.load(), bad ? 1 : 0);
    EXPECT_EQ(t.port.WriteFailedCount.load(), c.outcome == kWriteFailed ? 1 : 0);
    EXPECT_EQ(t.port.ReadFailedCount.load(), c.outcome == kReadFailed ? 1 : 0);
    EXPECT_EQ(t.port.LengthMismatchCount.load(), c.outcome == kLengthMismatch ? 1 : 0);
    EXPECT_EQ(t.port.DataMismatchCount.load(), c.outcome == kDataMismatch ? 1 : 0);
    EXPECT_EQ(t.port.WriteAbortedCount.load(), 0);
    EXPECT_EQ(t.port.ReadAbortedCount.load(), 0);
    EXPECT_EQ(t.port.PacketOk.load(), c.outcome == kNoVerdict ? 5 : (bad ? 0 : 1));
    // Every bad packet purges the port in both directions.
    EXPECT_EQ(t.device.PurgeCount(), bad ? 1 : 0);
    if (bad) {
      EXPECT_EQ(t.device.LastPurgeFlags(), kPurgeAll);
    }
  }
}

TEST_F(VerdictTest, FirstMismatchIsKeptOncePerRun) {
  struct Packet {
    int32_t write;
    int32_t read;
    int flipped_byte;  // -1: the bytes arrive as sent
    uint32_t read_length;
  };
  struct Case {
    const char* name;
    std::vector<Packet> packets;
    FirstMismatch first;
    // The excerpt: where it starts, how many bytes of each side it holds.
    int64_t excerpt_offset;
    uint8_t expected_length, received_length;
  };
  const Case cases[] = {
      {"data: the first differing byte of the first bad packet",
       {{kWriteDoneImmediate, kReadDoneImmediate, -1, kPacket},
        {kWriteDoneImmediate, kReadDoneDeferred, 37, kPacket},
        {kWriteDoneImmediate, kReadDoneDeferred, 3, kPacket},
        {kWriteDoneImmediate, kReadLengthMismatch, -1, 10}},
       {MismatchKind::kData, 2, 37, {}},
       29,
       16,
       16},
      {"length: what the short read delivered",
       {{kWriteDoneImmediate, kReadShort, -1, 5},  // a failed read, not a mismatch
        {kWriteDoneImmediate, kReadLengthMismatch, -1, 20},
        {kWriteDoneImmediate, kReadDoneDeferred, 0, kPacket}},
       {MismatchKind::kLength, 2, 20, {}},
       12,
       16,
       8},
      {"differing bytes behind a failed write are no mismatch",
       {{kWriteShort, kReadDoneDeferred, 9, kPacket}, {kWriteDoneImmediate, kReadNone, -1, 0}},
       {},
       0,
       0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPort t(context_);
    for (const Packet& p : c.packets) {
      t.buffer.assign(context_.run.TxPattern.begin(), context_.run.TxPattern.begin() + kPacket);
      if (p.flipped_byte >= 0) t.buffer[static_cast<size_t>(p.flipped_byte)] ^= 0x40;
      t.port.LastReadLength.store(p.read_length);
      t.Results(p.write, p.read);
      JudgePacket(t.port);
    }
    const FirstMismatch first = FirstMismatchOf(t.port);
    EXPECT_EQ(first.Kind, c.first.Kind);
    EXPECT_EQ(first.Packet, c.first.Packet);
    EXPECT_EQ(first.Offset, c.first.Offset);
    // The bytes around it: the pattern as sent, and as it came back (the
    // data case's differing byte lies 8 bytes into the excerpt).
    const MismatchExcerpt& e = first.Excerpt;
    EXPECT_EQ(e.Offset, c.excerpt_offset);
    ASSERT_EQ(e.ExpectedLength, c.expected_length);
    ASSERT_EQ(e.ReceivedLength, c.received_length);
    const uint8_t* sent = context_.run.TxPattern.data() + e.Offset;
    EXPECT_TRUE(std::equal(e.Expected.begin(), e.Expected.begin() + e.ExpectedLength, sent));
    for (size_t i = 0; i < e.ReceivedLength; ++i) {
      const uint8_t flip = first.Kind == MismatchKind::kData && i == 8 ? 0x40 : 0;
      EXPECT_EQ(e.Received[i], sent[i] ^ flip) << i;
    }
  }
}

// An excerpt never reaches before the first byte or past either side.
TEST(MismatchExcerptTest, StaysInsideBothBuffers) {
  uint8_t expected[40];
  uint8_t received[40];
  for (uint8_t i = 0; i < 40; ++i) {
    expected[i] = i;
    received[i] = static_cast<uint8_t>(0x80 | i);
  }
  const struct {
    int64_t offset, base;
    size_t expected_size, received_size;
    int64_t start;
    uint8_t expected_length, received_length;
  } cases[] = {
      {0, 0, 40, 40, 0, 16, 16},           // at the first byte: nothing before it
      {5, 0, 40, 40, 0, 16, 16},           // near the start: starts at the first byte
      {20, 0, 40, 40, 12, 16, 16},         // 8 bytes before it
      {36, 0, 40, 40, 28, 12, 12},         // near the end: what is left
      {20, 0, 40, 17, 12, 16, 5},          // a short read: the received side ends early
      {20, 0, 40, 10, 12, 16, 0},          // nothing received from there on
      {1010, 1000, 40, 40, 1002, 16, 16},  // a file: counted from the chunk's base
      {1003, 1000, 40, 40, 1000, 16, 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    const MismatchExcerpt e =
        MakeMismatchExcerpt(c.offset, c.base, expected, c.expected_size, received, c.received_size);
    EXPECT_EQ(e.Offset, c.start);
    ASSERT_EQ(e.ExpectedLength, c.expected_length);
    ASSERT_EQ(e.ReceivedLength, c.received_length);
    const auto skip = static_cast<size_t>(c.start - c.base);
    for (size_t i = 0; i < e.ExpectedLength; ++i) EXPECT_EQ(e.Expected[i], expected[skip + i]);
    for (size_t i = 0; i < e.ReceivedLength; ++i) EXPECT_EQ(e.Received[i], received[skip + i]);
  }
  const MismatchExcerpt nothing = MakeMismatchExcerpt(3, 0, nullptr, 0, received, 40);
  EXPECT_EQ(nothing.ExpectedLength, 0);
  EXPECT_EQ(nothing.ReceivedLength, 16);
}

TEST_F(VerdictTest, PurgeEndsTheOtherSidesTransfer) {
  TestPort t(context_);
  t.device.Script(RecordingDevice::Op::kWrite, {RecordingDevice::Answer::kPending, 0, -1, {}});
  Completion write_record(MakeEvent(Event::Kind::kManualReset));
  ASSERT_TRUE(t.device.Write("x", 1, &write_record).pending());
  t.Results(kWriteDoneImmediate, kReadShort);

  JudgePacket(t.port);

  EXPECT_EQ(t.device.Result(write_record).error, kErrorOperationAborted);
}

TEST_F(VerdictTest, GoodPacketsAreTimedOnlyWhenTheirEndFollowsTheirStart) {
  TestPort t(context_);
  struct Packet {
    double start;
    double end;
  };
  // The third packet's end was not stamped: it still shows the second's.
  const Packet packets[] = {{100.0, 130.0}, {200.0, 210.0}, {300.0, 210.0}, {400.0, 400.0}};
  for (const Packet& p : packets) {
    t.Results(kWriteDoneImmediate, kReadDoneImmediate);
    t.Times(p.start, p.end);
    ASSERT_EQ(JudgePacket(t.port), 1);
  }
  EXPECT_EQ(t.port.GoodPacketCount.load(), 4);
  EXPECT_DOUBLE_EQ(t.port.LastPacketTime.load(), 10.0);
  EXPECT_DOUBLE_EQ(t.port.TotalPacketTime.load(), 40.0);
  EXPECT_DOUBLE_EQ(t.port.MaxPacketTime.load(), 30.0);
}

TEST_F(VerdictTest, PacketStepRefreshesTheRowAtMostOncePerInterval) {
  struct Case {
    const char* name;
    uint32_t interval;
    double last_update;
    double end;
    double refreshed_ms_ago;  // on the clock
    bool stopped;
    bool refreshed;
    bool end_rule;  // the packet's end moved LastUpdateTime on
  };
  const Case cases[] = {
      {"end later than the interval", 100, 1000.0, 1100.5, 0.0, false, true, true},
      {"end exactly the interval", 100, 1000.0, 1100.0, 0.0, false, false, false},
      // Packets whose end is not stamped anew still refresh on the clock.
      {"end exactly the interval, clock past it", 100, 1000.0, 1100.0, 150.0, false, true, false},
      {"interval 0, later end", 0, 1000.0, 1000.25, 0.0, false, true, true},
      {"interval 0, same end, clock moved", 0, 1000.0, 1000.0, 5.0, false, true, false},
      {"stopped", 0, 1000.0, 5000.0, 5000.0, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingView view;
    view.InsertRow(0, "Quarnex01");
    context_.SetOutputs(&view, &view);
    context_.settings.Test.UpdateInterval = c.interval;
    context_.run.StopFlag.store(c.stopped ? 1 : 0);
    TestPort t(context_);
    t.Results(kWriteDoneImmediate, kReadDoneImmediate);
    t.Times(c.end - 10.0, c.end);
    t.port.LastUpdateTime.store(c.last_update);
    t.port.LastRefreshAt = MsClock() - c.refreshed_ms_ago;

    PacketStep(t.port);

    // The verdict counts the packet whether or not the row is refreshed.
    EXPECT_EQ(t.port.GoodPacketCount.load(), 1);
    EXPECT_EQ(view.Cell(0, kColumnPackets), c.refreshed ? "1" : "");
    EXPECT_EQ(t.port.LastUpdateTime.load(), c.end_rule ? c.end : c.last_update);
  }
  context_.run.StopFlag.store(0);
  context_.SetOutputs(&view_, &view_);
}

TEST_F(VerdictTest, PacketStepSkipsAFreeSlotAndCountsAnUnjudgedPacket) {
  TestPort t(context_);
  t.Results(kWriteDoneImmediate, kReadDoneImmediate);
  t.Times(0.0, 1e9);
  t.port.InUse.store(0);
  PacketStep(t.port);
  EXPECT_EQ(t.port.PacketCount.load(), 0);

  // An unjudged packet is counted; the row follows on the clock only.
  context_.settings.Test.UpdateInterval = 1000;
  t.port.InUse.store(1);
  t.Results(kWriteNone, kReadDoneImmediate);
  t.port.LastRefreshAt = MsClock();
  PacketStep(t.port);
  EXPECT_EQ(t.port.PacketCount.load(), 1);
  EXPECT_EQ(view_.Cell(0, kColumnPackets), "");
  t.port.LastRefreshAt = MsClock() - 1500.0;
  PacketStep(t.port);
  EXPECT_EQ(t.port.PacketCount.load(), 2);
  EXPECT_EQ(view_.Cell(0, kColumnPackets), "2");
  EXPECT_EQ(t.port.GoodPacketCount.load() + t.port.ErrorCount.load(), 0);
}

TEST_F(VerdictTest, RowShowsTimesAndThroughputAfterAGoodPacket) {
  TestPort t(context_);
  t.port.PacketCount.store(3);
  t.port.ErrorCount.store(1);
  t.port.GoodPacketCount.store(2);
  t.port.TotalPacketTime.store(2000.0);
  t.port.LastPacketTime.store(990.0);
  t.port.MaxPacketTime.store(1010.0);
  t.port.PacketOk.store(1);
  t.port.LastStatus.store(PackPacketStatus(PacketStatus::kSuccess, 0));

  UpdateRow(t.port);
  // 12.34 / 1000 x 100 + 0.05
  EXPECT_EQ(RowCells(),
            (std::vector<std::string>{"3", "1", "1000.0,  990.0,  1010.0  (1.3%)", "Success"}));

  // In file mode one packet is the file: 10000 / 1024 packets, the last
  // partial one by its share (12.34 / 1000 x 9.765625 x 100 + 0.05).
  context_.settings.Test.FileNameLength = 4;
  context_.settings.Test.FileSize = 10000;
  context_.settings.PacketSize = 1024;
  UpdateRow(t.port);
  EXPECT_EQ(view_.Cell(0, kColumnTime), "1000.0,  990.0,  1010.0  (12.1%)");
}

// The Status cell names the cause the judgement counted, and keeps naming
// it once the next packet's release has cleared the results it was judged
// from: a refresh or a snapshot between two packets (a Stop) never reads
// another cause off half-cleared results.
TEST_F(VerdictTest, RowNamesTheCauseOfABadPacket) {
  struct Case {
    const char* name;
    int32_t mode;
    int32_t write;
    int32_t read;
    const char* status;
    int64_t PortCounters::*cause;
  };
  const Case cases[] = {
      {"write not full", kLoopback, kWriteStopped, kReadDoneDeferred, "Write failed",
       &PortCounters::WriteFailedCount},
      {"length", kReceiveOnly, kWriteNone, kReadLengthMismatch, "Length mismatch (700)",
       &PortCounters::LengthMismatchCount},
      {"data", kLoopback, kWriteDoneDeferred, kReadDoneImmediate, "Data mismatch",
       &PortCounters::DataMismatchCount},
      {"read", kReceiveOnly, kWriteNone, kReadError, "Read failed", &PortCounters::ReadFailedCount},
      {"transmit only", kTransmitOnly, kWriteShort, kReadNone, "Write failed",
       &PortCounters::WriteFailedCount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    context_.settings.Test.Mode = c.mode;
    TestPort t(context_);
    t.port.PacketCount.store(3);
    t.port.ErrorCount.store(1);
    t.port.GoodPacketCount.store(2);
    t.port.TotalPacketTime.store(20.0);
    t.port.LastReadLength.store(700);
    t.buffer[0] ^= 1;  // a full read carries a wrong byte
    t.Results(c.write, c.read);
    ASSERT_EQ(JudgePacket(t.port), 1);

    UpdateRow(t.port);
    EXPECT_EQ(RowCells(), (std::vector<std::string>{"4", "2", kNotAvailable, c.status}));

    CountRelease(t.port);
    t.port.LastReadLength.store(0);
    EXPECT_EQ(StatusCell(t.port), c.status);
    const PortCounters counters = SnapshotPort(t.port, 1);
    EXPECT_EQ(RowStatusText(counters), c.status);
    EXPECT_EQ(counters.*c.cause, 1);
    UpdateRow(t.port);
    EXPECT_EQ(RowCells(), (std::vector<std::string>{"4", "2", kNotAvailable, c.status}));
  }
}

TEST_F(VerdictTest, PacketStepShowsEachJudgedPacket) {
  context_.settings.Test.UpdateInterval = 0;
  TestPort t(context_);
  t.Results(kWriteDoneImmediate, kReadDoneImmediate);
  t.Times(100.0, 150.0);
  PacketStep(t.port);
  EXPECT_EQ(RowCells()[3], "Success");

  t.Results(kWriteDoneImmediate, kReadDoneImmediate);
  t.buffer[0] ^= 1;
  t.Times(200.0, 260.0);
  PacketStep(t.port);
  EXPECT_EQ(RowCells(), (std::vector<std::string>{"2", "1", kNotAvailable, "Data mismatch"}));
}

// A blocked transfer that the timeout ended is counted where a cancelled
// read or write goes, once more as a timeout, and the row says which; a
// timeout of a packet that still came through counts nothing.
TEST_F(VerdictTest, TimedOutTransfersAreCountedAndNamed) {
  struct Case {
    const char* name;
    int32_t mode;
    int32_t write;
    int32_t read;
    int32_t timeout;
    const char* status;
    int64_t read_failed, write_failed, read_timeouts, write_timeouts;
  };
  const Case cases[] = {
      {"loopback read", kLoopback, kWriteDoneDeferred, kReadCancelled, kTimeoutRead, "Read timeout",
       1, 0, 1, 0},
      {"loopback write", kLoopback, kWriteCancelled, kReadCancelled, kTimeoutWrite, "Write timeout",
       0, 1, 0, 1},
      {"receive only", kReceiveOnly, kWriteNone, kReadCancelled, kTimeoutRead, "Read timeout", 1, 0,
       1, 0},
      {"transmit only", kTransmitOnly, kWriteCancelled, kReadNone, kTimeoutWrite, "Write timeout",
       0, 1, 0, 1},
      {"completed just in time", kLoopback, kWriteDoneDeferred, kReadDoneDeferred, kTimeoutRead,
       "Success", 0, 0, 0, 0},
  };
  context_.settings.Test.UpdateInterval = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    context_.settings.Test.Mode = c.mode;
    TestPort t(context_);
    t.Results(c.write, c.read);
    t.Times(100.0, 150.0);
    t.port.PendingTimeout.store(c.timeout);

    PacketStep(t.port);

    EXPECT_EQ(RowCells()[3], c.status);
    EXPECT_EQ(t.port.ReadFailedCount.load(), c.read_failed);
    EXPECT_EQ(t.port.WriteFailedCount.load(), c.write_failed);
    EXPECT_EQ(t.port.ReadTimeoutCount.load(), c.read_timeouts);
    EXPECT_EQ(t.port.WriteTimeoutCount.load(), c.write_timeouts);
    EXPECT_EQ(t.port.PendingTimeout.load(), kTimeoutNone);
    EXPECT_EQ(t.port.PacketCount.load(), t.port.GoodPacketCount.load() + t.port.ErrorCount.load());
  }
}

// A lost port shows it at once, whatever the interval, and its counters go
// on past 32 bits without wrapping.
TEST_F(VerdictTest, LostPortShowsAtOnceAndCountersPassTwoToThe32) {
  context_.settings.Test.UpdateInterval = 1000000;
  TestPort t(context_);
  t.port.LastRefreshAt = MsClock();
  t.port.LastUpdateTime.store(1e12);
  constexpr int64_t kBig = 0xFFFFFFFFll;
  t.port.PacketCount.store(kBig);
  t.port.ErrorCount.store(kBig);
  t.port.ReadFailedCount.store(kBig);
  t.port.Lost.store(1);
  t.Results(kWriteDoneDeferred, kReadRefused);

  PacketStep(t.port);

  EXPECT_EQ(t.port.PacketCount.load(), kBig + 1);
  EXPECT_EQ(t.port.ErrorCount.load(), kBig + 1);
  EXPECT_EQ(t.port.ReadFailedCount.load(), kBig + 1);
  EXPECT_EQ(RowCells(),
            (std::vector<std::string>{"4294967296", "4294967296", kNotAvailable, kStatusPortLost}));
}

}  // namespace
}  // namespace quarnex
