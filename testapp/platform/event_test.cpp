#include "testapp/platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace quarnex {
namespace {

TEST(EventTest, AutoResetIsConsumedByExactlyOneWaiter) {
  Event e(Event::Kind::kAutoReset);
  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      if (WaitAny({&e}, 300) == 0) ++woken;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  e.Set();
  for (auto& t : threads) t.join();
  EXPECT_EQ(woken.load(), 1);
  EXPECT_FALSE(e.IsSet());
}

TEST(EventTest, ManualResetReleasesAllWaitersAndStaysSet) {
  Event e(Event::Kind::kManualReset);
  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      if (WaitAny({&e}, kInfinite) == 0) ++woken;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  e.Set();
  for (auto& t : threads) t.join();
  EXPECT_EQ(woken.load(), 4);
  EXPECT_TRUE(e.IsSet());
  e.Reset();
  EXPECT_EQ(WaitAny({&e}, 0), kWaitTimeout);
}

TEST(EventTest, LowestSignalledIndexWins) {
  Event a(Event::Kind::kAutoReset, true);
  Event b(Event::Kind::kManualReset, true);
  EXPECT_EQ(WaitAny({&a, &b}, kInfinite), 0);
  // a was consumed, b stays set.
  EXPECT_EQ(WaitAny({&a, &b}, kInfinite), 1);
  EXPECT_EQ(WaitAny({&a, &b}, kInfinite), 1);
}

TEST(EventTest, TimeoutAndFailureValues) {
  Event e(Event::Kind::kAutoReset);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitAny({&e}, 30), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(30));
  EXPECT_EQ(WaitAny({}, 10), kWaitFailed);
  EXPECT_EQ(WaitAny({&e, nullptr}, 10), kWaitFailed);
}

TEST(EventTest, WaiterIsWokenBySetFromAnotherThread) {
  EventRef done = MakeEvent(Event::Kind::kAutoReset);
  EventRef exit = MakeEvent(Event::Kind::kManualReset);
  std::atomic<int> index{-100};
  std::thread waiter([&] { index = WaitAny({done.get(), exit.get()}, kInfinite); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  exit->Set();
  waiter.join();
  EXPECT_EQ(index.load(), 1);
}

TEST(EventTest, PingPongUnderLoadLosesNoSignal) {
  // Two threads hand a token back and forth many times; a lost wake-up
  // would hang here and time the test out.
  Event ping(Event::Kind::kAutoReset), pong(Event::Kind::kAutoReset);
  constexpr int kRounds = 20000;
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      ASSERT_EQ(WaitAny({&ping}, kInfinite), 0);
      pong.Set();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    ping.Set();
    ASSERT_EQ(WaitAny({&pong}, kInfinite), 0);
  }
  other.join();
}

}  // namespace
}  // namespace quarnex
