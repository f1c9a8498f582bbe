// Faults: each shows up at its rate, on the same frames for the same seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "adapter/sim_test_util.h"

namespace quarnex {
namespace {

constexpr int kFrames = 2000;
constexpr uint32_t kFrameBytes = 64;
// Rate 0.1 over 2000 frames: 200 expected, standard deviation 13.4; the band
// is more than 3.5 deviations wide on each side.
constexpr int kLow = 150;
constexpr int kHigh = 250;

// Which frames of an unpaced loopback port a frame fault hit, by kind.
struct FrameOutcome {
  std::vector<bool> dropped, cut, corrupted, line_error;
};

FrameOutcome RunFrames(const std::string& config, int frames = kFrames) {
  auto adapter = MakeAdapter("ports=1;" + config);
  DeviceRef device = adapter->Open(1);
  std::vector<uint8_t> sent(kFrameBytes);
  for (uint32_t i = 0; i < kFrameBytes; ++i) sent[i] = static_cast<uint8_t>(i + 1);
  FrameOutcome out;
  for (int i = 0; i < frames; ++i) {
    EXPECT_TRUE(device->Write(sent.data(), kFrameBytes, nullptr).done());
    Transfer read(kFrameBytes);
    const IoStatus s = device->Read(read.buffer.data(), kFrameBytes, &read.completion);
    const bool dropped = s.pending();
    if (dropped) device->Purge(kPurgeRxAbort);
    uint32_t errors = 0, error = 0;
    EXPECT_TRUE(device->ClearCommError(&errors, &error));
    out.dropped.push_back(dropped);
    out.cut.push_back(!dropped && s.count < kFrameBytes);
    out.corrupted.push_back(!dropped && s.count == kFrameBytes && read.buffer != sent);
    out.line_error.push_back(errors != 0);
  }
  return out;
}

int Count(const std::vector<bool>& v) {
  return static_cast<int>(std::count(v.begin(), v.end(), true));
}

TEST(SimFaultsTest, EachFrameFaultShowsUpAtItsRate) {
  const struct {
    const char* config;
    std::vector<bool> FrameOutcome::*hits;
  } kCases[] = {
      {"fault.drop=0.1", &FrameOutcome::dropped},
      {"fault.cut=0.1", &FrameOutcome::cut},
      {"fault.corrupt=0.1", &FrameOutcome::corrupted},
      {"fault.linerr=0.1", &FrameOutcome::line_error},
  };
  for (const auto& c : kCases) {
    const FrameOutcome out = RunFrames(std::string(c.config) + ";seed=42");
    const int hits = Count(out.*c.hits);
    EXPECT_GE(hits, kLow) << c.config;
    EXPECT_LE(hits, kHigh) << c.config;
    // No other kind of damage leaks in.
    EXPECT_EQ(Count(out.dropped) + Count(out.cut) + Count(out.corrupted) + Count(out.line_error),
              hits)
        << c.config;
  }
}

TEST(SimFaultsTest, SameSeedGivesTheSameFramesAndOtherFaultsDoNotMoveThem) {
  const FrameOutcome a = RunFrames("fault.drop=0.1;seed=7", 500);
  const FrameOutcome b = RunFrames("fault.drop=0.1;seed=7", 500);
  const FrameOutcome with_more = RunFrames("fault.drop=0.1;fault.linerr=0.3;seed=7", 500);
  const FrameOutcome other_seed = RunFrames("fault.drop=0.1;seed=8", 500);
  EXPECT_EQ(a.dropped, b.dropped);
  EXPECT_EQ(a.dropped, with_more.dropped);
  EXPECT_NE(a.dropped, other_seed.dropped);
  EXPECT_GT(Count(a.dropped), 0);
}

TEST(SimFaultsTest, LineErrorsRaiseTheGivenMaskOrOneOfTheSixFlags) {
  auto adapter = MakeAdapter("ports=1-2;fault.linerr=1");
  DeviceRef device = adapter->Open(1);
  std::set<uint32_t> seen;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(device->Write("x", 1, nullptr).done());
    uint32_t errors = 0, error = 0;
    ASSERT_TRUE(device->ClearCommError(&errors, &error));
    seen.insert(errors);
  }
  EXPECT_EQ(seen, (std::set<uint32_t>{kCeRxOver, kCeOverrun, kCeRxParity, kCeFrame, kCeBreak,
                                      kCeTxFull}));

  const FrameOutcome masked = RunFrames("fault.linerr=1:0x0104", 5);
  EXPECT_EQ(Count(masked.line_error), 5);
}

// Which overlapped writes the transfer faults hit. On a paced line a write
// normally pends (so an instant completion shows); on an unpaced one it
// completes at once (so a hung one shows without waiting).
struct TransferOutcome {
  int refused = 0, hung = 0, instant = 0, normal = 0;
  uint32_t refuse_error = 0;
};

TransferOutcome RunWrites(const std::string& config, bool paced) {
  auto adapter = MakeAdapter("ports=1;far=sink;" + config);
  DeviceRef device = adapter->Open(1);
  Configure(*device, kEightBits, 0, paced ? 10000000 : 0);  // 64 bytes = 51 us
  TransferOutcome out;
  for (int i = 0; i < kFrames; ++i) {
    Transfer write(kFrameBytes);
    const IoStatus s = device->Write(write.buffer.data(), kFrameBytes, &write.completion);
    if (s.done()) {
      ++(paced ? out.instant : out.normal);
    } else if (!s.pending()) {
      ++out.refused;
      out.refuse_error = s.error;
    } else if (paced && write.Wait(5000)) {  // only a starved test waits long
      ++out.normal;
    } else {
      ++out.hung;
      device->Purge(kPurgeTxAbort);
      EXPECT_EQ(write.status(), kErrorOperationAborted);
    }
  }
  return out;
}

TEST(SimFaultsTest, EachTransferFaultShowsUpAtItsRate) {
  const struct {
    const char* config;
    int TransferOutcome::*hits;
    bool paced;
  } kCases[] = {
      {"fault.refuse=0.1", &TransferOutcome::refused, false},
      {"fault.hang=0.1", &TransferOutcome::hung, false},
      {"fault.instant=0.1", &TransferOutcome::instant, true},
  };
  for (const auto& c : kCases) {
    const TransferOutcome out = RunWrites(std::string(c.config) + ";seed=3", c.paced);
    EXPECT_GE(out.*c.hits, kLow) << c.config;
    EXPECT_LE(out.*c.hits, kHigh) << c.config;
    EXPECT_EQ(out.normal + out.*c.hits, kFrames) << c.config;
  }
}

TEST(SimFaultsTest, RefusalCarriesItsErrorCodeAndNeverLooksPending) {
  EXPECT_EQ(RunWrites("fault.refuse=1", false).refuse_error, kErrorGenFailure);
  EXPECT_EQ(RunWrites("fault.refuse=1:5", false).refuse_error, kErrorAccessDenied);
}

TEST(SimFaultsTest, HungReadStaysPendingUntilPurged) {
  auto adapter = MakeAdapter("ports=1;fault.hang=1");
  DeviceRef device = adapter->Open(1);
  Transfer read(8);
  ASSERT_TRUE(device->Read(read.buffer.data(), 8, &read.completion).pending());
  ASSERT_TRUE(device->Write("x", 1, nullptr).done());  // synchronous calls are spared
  EXPECT_FALSE(read.Wait(20));
  ASSERT_TRUE(device->Purge(kPurgeRxAbort));
  EXPECT_EQ(read.status(), kErrorOperationAborted);
}

// An instant write's frame still has to cross the line: it waits in the
// transmit buffer. Once that is full, a write pends until its frame fits, one
// frame time later, so a writer can never run ahead of the line without
// bound (it once queued gigabytes in seconds).
TEST(SimFaultsTest, InstantWritesPendOnceTheTransmitBufferIsFull) {
  auto adapter = MakeAdapter("ports=1;far=sink;fault.instant=1");
  DeviceRef device = adapter->Open(1);
  // A second a frame at 9600 bit/s: no frame leaves while the buffer fills,
  // and the buffer takes a minute to drain, so what the port counts when
  // the pending write ends tells which frame it waited for, however slowly
  // this test runs.
  constexpr uint32_t kBytes = 1200;
  Configure(*device, kEightBits, 0, 9600);
  Transfer write(kBytes);
  size_t at_once = 0;
  IoStatus s;
  while ((s = device->Write(write.buffer.data(), kBytes, &write.completion)).done() &&
         at_once <= kMaxTxFramesBuffered) {
    ++at_once;
  }
  EXPECT_EQ(at_once, kMaxTxFramesBuffered);
  ASSERT_TRUE(s.pending());
  ASSERT_TRUE(write.Wait(30000));
  EXPECT_EQ(write.status(), kErrorSuccess);
  SimPortState state;
  ASSERT_TRUE(adapter->PortState(1, &state));
  // Not before a frame has left the line to make room...
  EXPECT_GE(state.frames_sent, 1u);
  // ...and not once the whole buffer has crossed it.
  EXPECT_LT(state.frames_sent, kMaxTxFramesBuffered);
  device->Close();
}

TEST(SimFaultsTest, FaultsHitOnlyTheListedPorts) {
  auto adapter = MakeAdapter("ports=1-2;fault.drop=1;fault.ports=2");
  DeviceRef clean = adapter->Open(1), faulty = adapter->Open(2);
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(clean->Write("x", 1, nullptr).done());
    ASSERT_TRUE(faulty->Write("x", 1, nullptr).done());
  }
  SimPortState s1, s2;
  ASSERT_TRUE(adapter->PortState(1, &s1));
  ASSERT_TRUE(adapter->PortState(2, &s2));
  EXPECT_EQ(s1.frames_received, 20u);
  EXPECT_EQ(s1.frames_lost, 0u);
  EXPECT_EQ(s2.frames_received, 0u);
  EXPECT_EQ(s2.frames_lost, 20u);
}

}  // namespace
}  // namespace quarnex
