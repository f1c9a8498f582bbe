// Transfers, purges and closes from several threads at random, on ports that
// loop back, pair up, pace, fault and are pulled. Run under ThreadSanitizer
// it shows the port's locking; under AddressSanitizer, that no aborted or
// failed transfer's buffer or record is touched after Purge, Close or the
// pull ended it (the transfers live on the threads' stacks and die right
// after).
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "adapter/sim_test_util.h"

namespace quarnex {
namespace {

constexpr int kThreads = 6;
constexpr int kIterations = 3000;
constexpr int kPorts = 4;

class Slots {
 public:
  explicit Slots(SimAdapter* adapter) : adapter_(adapter) {
    for (int p = 1; p <= kPorts; ++p) devices_[p - 1] = adapter_->Open(p);
  }
  DeviceRef Get(int port) {
    std::lock_guard<std::mutex> lock(mu_);
    return devices_[port - 1];
  }
  // Replaces a device that was closed by a fresh open of its port.
  void Reopen(int port, const DeviceRef& closed) {
    std::lock_guard<std::mutex> lock(mu_);
    if (devices_[port - 1] != closed) return;
    closed->Close();
    devices_[port - 1] = adapter_->Open(port);
  }

 private:
  SimAdapter* adapter_;
  std::mutex mu_;
  DeviceRef devices_[kPorts];
};

struct Tally {
  std::atomic<int> unfinished{0};  // still running after Purge or Close returned
  std::atomic<int> lost{0};        // ended by a pull
};

void Worker(Slots* slots, unsigned seed, Tally* tally) {
  std::mt19937 rng(seed);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int i = 0; i < kIterations; ++i) {
    const int port = 1 + pick(kPorts);
    DeviceRef device = slots->Get(port);
    if (device == nullptr) continue;
    Transfer t(256);
    IoStatus s;
    uint32_t abort_flags = kPurgeAll;
    switch (pick(7)) {
      case 0:
        s = device->Read(t.buffer.data(), 1 + pick(256), &t.completion);
        abort_flags = kPurgeRxAbort;
        break;
      case 1:
        s = device->Write(t.buffer.data(), 1 + pick(256), &t.completion);
        abort_flags = kPurgeTxAbort;
        break;
      case 2: {
        static const uint32_t kRequests[] = {2, 4, 6, 14, 15, 22, 28};
        const uint32_t n = kRequests[pick(7)];
        s = device->Control(AdapterRequest(n), t.buffer.data(), 8, t.buffer.data(), 8,
                            &t.completion);
        abort_flags = kPurgeTxAbort;
        break;
      }
      case 3:
        device->Purge(static_cast<uint32_t>(pick(16)));
        continue;
      case 4: {
        uint32_t errors = 0, error = 0;
        device->ClearCommError(&errors, &error);
        const std::vector<uint8_t> block = ConfigBlock(kEightBits, 0, pick(2) ? 2000000 : 0);
        device->Control(kIoctlSetConfiguration, block.data(), 338, nullptr, 0, nullptr);
        continue;
      }
      case 5:
        if (pick(4) == 0) slots->Reopen(port, device);
        continue;
      default:
        device->SetCommMask(0);
        continue;
    }
    if (s.error == kErrorDeviceNotConnected) tally->lost.fetch_add(1);
    if (!s.pending()) continue;
    if (!t.Wait(pick(3))) {
      // Still running: end it. Whether Purge finds the session alive or
      // another thread's Close got there first, the transfer is over now.
      if (pick(2) == 0) {
        device->Purge(abort_flags);
      } else {
        slots->Reopen(port, device);
      }
      if (t.status() == kErrorIoIncomplete) tally->unfinished.fetch_add(1);
    }
    if (t.status() == kErrorDeviceNotConnected) tally->lost.fetch_add(1);
  }
}

TEST(SimStressTest, RandomTransfersPurgesAndClosesFromManyThreads) {
  const std::string kFaults =
      "ports=1-4;3-4=nullmodem;fault.hang=0.02;fault.instant=0.05;fault.drop=0.05;seed=5";
  struct Case {
    std::string config;
    bool pulls;
  };
  // Pulled 2 ms after each open: the pulls race the transfers, purges and
  // closes of every thread, and each reopen plugs the port in again.
  const Case cases[] = {{kFaults, false}, {kFaults + ";unplug=0.002", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    auto adapter = MakeAdapter(c.config);
    Slots slots(adapter.get());
    Tally tally;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) threads.emplace_back(Worker, &slots, 100 + i, &tally);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(tally.unfinished.load(), 0);
    if (c.pulls) {
      EXPECT_GT(tally.lost.load(), 0);
    } else {
      EXPECT_EQ(tally.lost.load(), 0);
    }
    for (int p = 1; p <= kPorts; ++p) {
      if (DeviceRef d = slots.Get(p)) d->Close();
    }
  }
}

}  // namespace
}  // namespace quarnex
