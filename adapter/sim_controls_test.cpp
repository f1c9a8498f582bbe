// The control requests the exerciser sends, with its buffers.
#include <gtest/gtest.h>

#include "adapter/sim_test_util.h"

namespace quarnex {
namespace {

constexpr int64_t kWaitMs = 2000;

class SimControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adapter_ = MakeAdapter("ports=1");
    device_ = adapter_->Open(1);
    ASSERT_NE(device_, nullptr);
  }
  void TearDown() override { device_->Close(); }

  // Sends request n overlapped and waits for it; returns the count.
  uint32_t Send(uint32_t n, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                bool* pended) {
    Transfer t;
    const IoStatus s =
        device_->Control(AdapterRequest(n), in, in_size, out, out_size, &t.completion);
    *pended = s.pending();
    if (s.done()) return s.count;
    EXPECT_TRUE(s.pending()) << "request " << n << " failed with " << s.error;
    EXPECT_TRUE(t.Wait(kWaitMs)) << "request " << n;
    EXPECT_EQ(t.status(), kErrorSuccess) << "request " << n;
    return t.count();
  }

  std::unique_ptr<SimAdapter> adapter_;
  DeviceRef device_;
};

TEST_F(SimControlsTest, EveryExerciserRequestIsAnsweredWithItsBuffers) {
  const std::vector<uint8_t> block = ConfigBlock(kEightBits, 0, 0);
  ASSERT_TRUE(
      device_->Control(kIoctlSetConfiguration, block.data(), 338, nullptr, 0, nullptr).done());
  bool pended = false;
  int pended_count = 0, at_once_count = 0;
  for (uint32_t n : {5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 17u, 18u, 19u, 20u, 23u}) {
    EXPECT_EQ(Send(n, nullptr, 0, nullptr, 0, &pended), 0u) << n;
    ++(pended ? pended_count : at_once_count);
  }
  // The exerciser meets both kinds.
  EXPECT_GT(pended_count, 0);
  EXPECT_GT(at_once_count, 0);

  std::vector<uint8_t> out(338, 0xEE);
  EXPECT_EQ(Send(1, nullptr, 0, out.data(), 338, &pended), 338u);
  EXPECT_EQ(out, block);  // request 1 reads the block back

  uint8_t byte = 12;
  EXPECT_EQ(Send(2, &byte, 1, &byte, 1, &pended), 1u);  // same buffer in and out
  EXPECT_EQ(byte, 12);

  const uint8_t three[3] = {15, 1, 0};
  EXPECT_EQ(Send(3, three, 3, nullptr, 0, &pended), 0u);

  const uint8_t values[8] = {10, 0, 0, 0, 5, 0, 0, 0};
  EXPECT_EQ(Send(21, values, 8, nullptr, 0, &pended), 0u);
  uint8_t back[8] = {};
  EXPECT_EQ(Send(22, nullptr, 0, back, 8, &pended), 8u);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 8), std::vector<uint8_t>(values, values + 8));
  SimPortState s;
  ASSERT_TRUE(adapter_->PortState(1, &s));
  EXPECT_EQ(s.two_values[0], 10u);
  EXPECT_EQ(s.two_values[1], 5u);

  for (uint32_t n : {14u, 15u, 16u, 28u, 29u}) {
    uint8_t value = 0xEE;
    EXPECT_EQ(Send(n, nullptr, 0, &value, 1, &pended), 1u) << n;
    EXPECT_EQ(value, 0) << n;  // lines low, no errors, nothing waiting
  }
  ASSERT_TRUE(device_->Control(kIoctlSetRts, nullptr, 0, nullptr, 0, nullptr).done());
  ASSERT_TRUE(device_->Write("x", 1, nullptr).done());
  uint8_t value = 0;
  Send(14, nullptr, 0, &value, 1, &pended);
  EXPECT_EQ(value, 0x05);  // CTS (from our RTS) and RTS
  Send(16, nullptr, 0, &value, 1, &pended);
  EXPECT_EQ(value, 1);  // one frame waiting
}

TEST_F(SimControlsTest, WaitMaskPendsUntilAFrameArrives) {
  uint32_t mask = 0x200;
  Transfer wait;
  ASSERT_TRUE(device_->Control(AdapterRequest(4), &mask, 4, &mask, 4, &wait.completion).pending());
  EXPECT_FALSE(wait.Wait(20));
  ASSERT_TRUE(device_->Write("x", 1, nullptr).done());
  ASSERT_TRUE(wait.Wait(kWaitMs));
  EXPECT_EQ(wait.count(), 4u);
  EXPECT_EQ(mask, kLineEventFrame);
  EXPECT_EQ(mask, 0x10u);
}

TEST_F(SimControlsTest, WaitMaskReportsLineErrorsAndEndsOnANewMask) {
  auto adapter = MakeAdapter("ports=1;fault.drop=1;fault.linerr=1:0x08");
  DeviceRef device = adapter->Open(1);
  uint32_t mask = 0x200;
  Transfer wait;
  ASSERT_TRUE(device->Control(AdapterRequest(4), &mask, 4, &mask, 4, &wait.completion).pending());
  ASSERT_TRUE(device->Write("x", 1, nullptr).done());  // dropped, but raises framing
  ASSERT_TRUE(wait.Wait(kWaitMs));
  EXPECT_EQ(mask, kLineEventLineError);

  ASSERT_TRUE(device->Control(AdapterRequest(4), &mask, 4, &mask, 4, &wait.completion).pending());
  ASSERT_TRUE(device->SetCommMask(0));
  EXPECT_EQ(wait.status(), kErrorSuccess);
  EXPECT_EQ(mask, 0u);
}

TEST_F(SimControlsTest, SharedRecordCopiesAllEndAndPurgeAbortsPendingOnes) {
  // The exerciser queues copies that share one record and event.
  Transfer shared;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(
        device_->Control(AdapterRequest(6), nullptr, 0, nullptr, 0, &shared.completion).pending());
  }
  ASSERT_TRUE(shared.Wait(kWaitMs));
  uint32_t mask = 0;
  Transfer wait;
  ASSERT_TRUE(device_->Control(AdapterRequest(4), &mask, 4, &mask, 4, &wait.completion).pending());
  ASSERT_TRUE(device_->Purge(kPurgeAll));
  EXPECT_EQ(wait.status(), kErrorOperationAborted);
}

TEST_F(SimControlsTest, SynchronousRequestReturnsOnceDone) {
  // Request 22 pends briefly; without a record the call waits for it.
  uint8_t out[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  const IoStatus s = device_->Control(AdapterRequest(22), nullptr, 0, out, 8, nullptr);
  EXPECT_TRUE(s.done());
  EXPECT_EQ(s.count, 8u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), std::vector<uint8_t>(8, 0));
}

}  // namespace
}  // namespace quarnex
