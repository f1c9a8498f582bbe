// Frames, transfers, purge and close on one simulated port.
#include <gtest/gtest.h>

#include "adapter/sim_test_util.h"

namespace quarnex {
namespace {

constexpr int64_t kWaitMs = 2000;
// A rate slow enough that a frame is surely still on the line while the
// test looks, even on a busy machine: 300 bit/s, 8 bits, 100 bytes = 2.7 s.
constexpr int32_t kSlowRate = 300;

class SimPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adapter_ = MakeAdapter("ports=1-4");
    device_ = adapter_->Open(1);
    ASSERT_NE(device_, nullptr);
  }

  SimPortState State(int port = 1) {
    SimPortState s;
    EXPECT_TRUE(adapter_->PortState(port, &s));
    return s;
  }

  std::unique_ptr<SimAdapter> adapter_;
  DeviceRef device_;
};

TEST_F(SimPortTest, ReadPendsUntilAFrameArrivesAndAWaitingFrameCompletesAtOnce) {
  Transfer read(64);
  ASSERT_TRUE(device_->Read(read.buffer.data(), 64, &read.completion).pending());
  EXPECT_EQ(read.status(), kErrorIoIncomplete);
  EXPECT_EQ(device_->Result(read.completion).error, kErrorIoIncomplete);
  ASSERT_TRUE(device_->Write("hello", 5, nullptr).done());
  ASSERT_TRUE(read.Wait(kWaitMs));
  EXPECT_EQ(read.status(), kErrorSuccess);
  EXPECT_EQ(read.text(), "hello");

  // A frame that arrived before the read waits for it.
  ASSERT_TRUE(device_->Write("again", 5, nullptr).done());
  Transfer second(64);
  const IoStatus at_once = device_->Read(second.buffer.data(), 64, &second.completion);
  ASSERT_TRUE(at_once.done());
  EXPECT_EQ(at_once.count, 5u);
  EXPECT_EQ(second.text(), "again");
  EXPECT_TRUE(second.event->IsSet());  // signalled as on completion
}

TEST_F(SimPortTest, OutstandingReadsAreServedInOrderOneFrameEach) {
  Transfer reads[3] = {Transfer(8), Transfer(8), Transfer(8)};
  for (Transfer& r : reads) ASSERT_TRUE(device_->Read(r.buffer.data(), 8, &r.completion).pending());
  for (const char* frame : {"one", "two", "three"}) {
    ASSERT_TRUE(device_->Write(frame, static_cast<uint32_t>(strlen(frame)), nullptr).done());
  }
  for (Transfer& r : reads) ASSERT_TRUE(r.Wait(kWaitMs));
  EXPECT_EQ(reads[0].text(), "one");
  EXPECT_EQ(reads[1].text(), "two");
  EXPECT_EQ(reads[2].text(), "three");
}

TEST_F(SimPortTest, FrameLongerThanTheReadIsCutAndTheRestDiscarded) {
  ASSERT_TRUE(device_->Write("0123456789", 10, nullptr).done());
  ASSERT_TRUE(device_->Write("next", 4, nullptr).done());
  Transfer read(4);
  IoStatus s = device_->Read(read.buffer.data(), 4, &read.completion);
  ASSERT_TRUE(s.done());
  EXPECT_EQ(s.count, 4u);
  EXPECT_EQ(read.text(), "0123");
  Transfer next(16);
  s = device_->Read(next.buffer.data(), 16, &next.completion);
  ASSERT_TRUE(s.done());
  EXPECT_EQ(next.text(), "next");  // one read takes one frame
}

TEST_F(SimPortTest, PurgeAbortsPendingReadsAndWritesAndSignalsTheirEvents) {
  Configure(*device_, kEightBits, 0, kSlowRate);
  Transfer read(128), write(100);
  ASSERT_TRUE(device_->Read(read.buffer.data(), 128, &read.completion).pending());
  ASSERT_TRUE(device_->Write(write.buffer.data(), 100, &write.completion).pending());
  ASSERT_TRUE(device_->Purge(kPurgeAll));
  // Synchronous: both ended before Purge returned.
  EXPECT_EQ(read.status(), kErrorOperationAborted);
  EXPECT_EQ(write.status(), kErrorOperationAborted);
  EXPECT_TRUE(read.event->IsSet());
  EXPECT_TRUE(write.event->IsSet());
  EXPECT_EQ(device_->Result(write.completion).error, kErrorOperationAborted);
  // The aborted frame left the line with its write: nothing arrives.
  Transfer later(128);
  ASSERT_TRUE(device_->Read(later.buffer.data(), 128, &later.completion).pending());
  EXPECT_FALSE(later.Wait(150));
  EXPECT_EQ(State().frames_sent, 0u);
  device_->Close();  // before `later` goes out of scope
}

TEST_F(SimPortTest, PurgeFlagsActOnlyOnTheirOwnSide) {
  Configure(*device_, kEightBits, 0, kSlowRate);
  Transfer read(128), write(100);
  ASSERT_TRUE(device_->Read(read.buffer.data(), 128, &read.completion).pending());
  ASSERT_TRUE(device_->Write(write.buffer.data(), 100, &write.completion).pending());
  ASSERT_TRUE(device_->Purge(kPurgeRxAbort));
  EXPECT_EQ(read.status(), kErrorOperationAborted);
  EXPECT_EQ(write.status(), kErrorIoIncomplete);
  ASSERT_TRUE(device_->Purge(kPurgeTxAbort));
  EXPECT_EQ(write.status(), kErrorOperationAborted);
}

TEST_F(SimPortTest, PurgeRxClearDiscardsWaitingFrames) {
  ASSERT_TRUE(device_->Write("stale", 5, nullptr).done());
  ASSERT_EQ(State().frames_waiting, 1u);
  ASSERT_TRUE(device_->Purge(kPurgeRxClear));
  EXPECT_EQ(State().frames_waiting, 0u);
  Transfer read(16);
  EXPECT_TRUE(device_->Read(read.buffer.data(), 16, &read.completion).pending());
  device_->Close();
}

// Nobody reads: the receive buffer holds a bounded number of frames and
// bytes, and the rest is lost with receive overflow, however long it goes.
TEST_F(SimPortTest, UnreadFramesBeyondTheReceiveBufferAreLostWithReceiveOverflow) {
  const struct {
    int port;  // its own, as the counters are the port's
    uint32_t frame_bytes;
    size_t kept;
  } kCases[] = {
      {2, 16, kMaxFramesWaiting},                      // the frame count binds
      {3, 64 * 1024, kMaxBytesWaiting / (64 * 1024)},  // the byte count binds
  };
  constexpr size_t kExtra = 10;
  for (const auto& c : kCases) {
    DeviceRef device = adapter_->Open(c.port);
    ASSERT_NE(device, nullptr);
    const std::vector<uint8_t> frame(c.frame_bytes, 0x5a);
    for (size_t i = 0; i < c.kept + kExtra; ++i) {
      ASSERT_TRUE(device->Write(frame.data(), c.frame_bytes, nullptr).done());
    }
    const SimPortState s = State(c.port);
    EXPECT_EQ(s.frames_waiting, c.kept) << c.frame_bytes;
    EXPECT_EQ(s.frames_lost, kExtra) << c.frame_bytes;
    uint32_t errors = 0, error = 0;
    ASSERT_TRUE(device->ClearCommError(&errors, &error));
    EXPECT_EQ(errors, kCeRxOver) << c.frame_bytes;
    device->Close();
  }
}

TEST_F(SimPortTest, CloseAbortsEverythingAndLaterCallsFailWithInvalidHandle) {
  Configure(*device_, kEightBits, 0, kSlowRate);
  Transfer read(128), write(100), wait(4);
  ASSERT_TRUE(device_->Read(read.buffer.data(), 128, &read.completion).pending());
  ASSERT_TRUE(device_->Write(write.buffer.data(), 100, &write.completion).pending());
  ASSERT_TRUE(device_
                  ->Control(AdapterRequest(4), wait.buffer.data(), 4, wait.buffer.data(), 4,
                            &wait.completion)
                  .pending());
  device_->Close();
  for (Transfer* t : {&read, &write, &wait}) {
    EXPECT_EQ(t->status(), kErrorOperationAborted);
    EXPECT_TRUE(t->event->IsSet());
  }
  Transfer after(8);
  EXPECT_EQ(device_->Read(after.buffer.data(), 8, &after.completion).error, kErrorInvalidHandle);
  EXPECT_EQ(device_->Write("x", 1, &after.completion).error, kErrorInvalidHandle);
  EXPECT_EQ(device_->Control(kIoctlSetRts, nullptr, 0, nullptr, 0, nullptr).error,
            kErrorInvalidHandle);
  uint32_t errors = 0, error = 0;
  EXPECT_FALSE(device_->ClearCommError(&errors, &error));
  EXPECT_EQ(error, kErrorInvalidHandle);
  EXPECT_FALSE(device_->Purge(kPurgeAll));
  EXPECT_FALSE(device_->SetCommMask(0));
  device_->Close();  // a second close does nothing
}

TEST_F(SimPortTest, OpenIsExclusiveAndAnOldHandleStaysDeadAfterReopen) {
  EXPECT_EQ(adapter_->Open(1), nullptr);
  EXPECT_EQ(adapter_->Open(9), nullptr);  // no such port
  device_->Close();
  DeviceRef again = adapter_->Open(1);
  ASSERT_NE(again, nullptr);
  // The first handle does not reach the new session.
  EXPECT_EQ(device_->Write("x", 1, nullptr).error, kErrorInvalidHandle);
  device_->Close();
  EXPECT_TRUE(again->Write("x", 1, nullptr).done());
  // Dropping the last reference closes the port too.
  again.reset();
  EXPECT_NE(adapter_->Open(1), nullptr);
}

TEST_F(SimPortTest, ClearCommErrorReturnsTheGatheredMaskOnceAndClearsIt) {
  SimConfig config;
  ASSERT_TRUE(ParseSimConfig("ports=1;fault.linerr=1:0x18", &config, nullptr));
  SimAdapter adapter(config);
  DeviceRef device = adapter.Open(1);
  uint32_t errors = 99, error = 99;
  ASSERT_TRUE(device->ClearCommError(&errors, &error));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(error, kErrorSuccess);
  ASSERT_TRUE(device->Write("x", 1, nullptr).done());
  ASSERT_TRUE(device->ClearCommError(&errors, &error));
  EXPECT_EQ(errors, kCeBreak | kCeFrame);
  ASSERT_TRUE(device->ClearCommError(&errors, &error));
  EXPECT_EQ(errors, 0u);
}

TEST_F(SimPortTest, ConfigurationBlockAndTwoValuesAreKeptPerPort) {
  const std::vector<uint8_t> block = ConfigBlock(kSevenBits, 1, 57600);
  ASSERT_TRUE(
      device_->Control(kIoctlSetConfiguration, block.data(), 338, nullptr, 0, nullptr).done());
  const uint8_t values[8] = {0xE8, 0x03, 0, 0, 100, 0, 0, 0};  // 1000, 100
  ASSERT_TRUE(device_->Control(kIoctlSetTwoValues, values, 8, nullptr, 0, nullptr).done());
  SimPortState s = State();
  ASSERT_TRUE(s.has_config_block);
  EXPECT_EQ(s.config_block, block);
  EXPECT_EQ(s.timing.bits_per_character, 7);
  EXPECT_TRUE(s.timing.parity);
  EXPECT_EQ(s.timing.bit_rate, 57600);
  ASSERT_TRUE(s.has_two_values);
  EXPECT_EQ(s.two_values[0], 1000u);
  EXPECT_EQ(s.two_values[1], 100u);
  EXPECT_FALSE(State(2).has_config_block);
  EXPECT_FALSE(State(2).has_two_values);
}

TEST_F(SimPortTest, ControlRequestsCheckCodeAndBufferSizes) {
  uint8_t byte = 0;
  EXPECT_EQ(device_->Control(0x80002078, nullptr, 0, nullptr, 0, nullptr).error,
            kErrorInvalidFunction);
  EXPECT_EQ(device_->Control(0x12345678, nullptr, 0, nullptr, 0, nullptr).error,
            kErrorInvalidFunction);
  const std::vector<uint8_t> short_block(337, 0);
  EXPECT_EQ(
      device_->Control(kIoctlSetConfiguration, short_block.data(), 337, nullptr, 0, nullptr).error,
      kErrorInvalidParameter);
  EXPECT_EQ(device_->Control(kIoctlGetCts, nullptr, 0, &byte, 0, nullptr).error,
            kErrorInvalidParameter);
  EXPECT_EQ(device_->Control(kIoctlGetCts, nullptr, 0, nullptr, 1, nullptr).error,
            kErrorInvalidParameter);
  EXPECT_FALSE(State().has_config_block);
}

bool Line(Device& d, uint32_t code) {
  uint8_t v = 0xAA;
  EXPECT_TRUE(d.Control(code, nullptr, 0, &v, 1, nullptr).done());
  EXPECT_TRUE(v == 0 || v == 1) << int(v);
  return v != 0;
}

TEST_F(SimPortTest, LoopbackPlugWiresRtsToCtsAndDtrToDcd) {
  EXPECT_FALSE(Line(*device_, kIoctlGetCts));
  EXPECT_FALSE(Line(*device_, kIoctlGetDcd));
  ASSERT_TRUE(device_->Control(kIoctlSetRts, nullptr, 0, nullptr, 0, nullptr).done());
  EXPECT_TRUE(Line(*device_, kIoctlGetCts));
  EXPECT_FALSE(Line(*device_, kIoctlGetDcd));
  ASSERT_TRUE(device_->Control(kIoctlSetDtr, nullptr, 0, nullptr, 0, nullptr).done());
  EXPECT_TRUE(Line(*device_, kIoctlGetDcd));
  SimPortState s = State();
  EXPECT_TRUE(s.rts && s.dtr && s.cts && s.dcd);
  ASSERT_TRUE(device_->Control(kIoctlClearRts, nullptr, 0, nullptr, 0, nullptr).done());
  EXPECT_FALSE(Line(*device_, kIoctlGetCts));
  EXPECT_TRUE(Line(*device_, kIoctlGetDcd));
  ASSERT_TRUE(device_->Control(kIoctlClearDtr, nullptr, 0, nullptr, 0, nullptr).done());
  EXPECT_FALSE(Line(*device_, kIoctlGetDcd));
  // A closed port drops its lines.
  ASSERT_TRUE(device_->Control(kIoctlSetRts, nullptr, 0, nullptr, 0, nullptr).done());
  device_->Close();
  EXPECT_FALSE(State().rts);
}

TEST_F(SimPortTest, NullModemWiresEachEndsLinesToTheOther) {
  auto adapter = MakeAdapter("ports=1-2;1-2=nullmodem");
  DeviceRef a = adapter->Open(1), b = adapter->Open(2);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(a->Control(kIoctlSetRts, nullptr, 0, nullptr, 0, nullptr).done());
  EXPECT_FALSE(Line(*a, kIoctlGetCts));
  EXPECT_TRUE(Line(*b, kIoctlGetCts));
  ASSERT_TRUE(b->Control(kIoctlSetDtr, nullptr, 0, nullptr, 0, nullptr).done());
  EXPECT_TRUE(Line(*a, kIoctlGetDcd));
  EXPECT_FALSE(Line(*b, kIoctlGetDcd));
}

TEST_F(SimPortTest, StartingATransferWithdrawsAStaleSignalOfItsEvent) {
  Transfer read(8);
  read.event->Set();
  ASSERT_TRUE(device_->Read(read.buffer.data(), 8, &read.completion).pending());
  EXPECT_FALSE(read.event->IsSet());
  device_->Close();
}

}  // namespace
}  // namespace quarnex
