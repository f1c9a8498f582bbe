#include "testapp/platform/event.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "testapp/platform/test_support.h"

namespace quarnex {
namespace {

TEST(EventTest, AutoResetIsConsumedByExactlyOneWaiter) {
  Event e(Event::Kind::kAutoReset);
  // Ends the waits the Set did not end, however late the test thread comes
  // to set it: a waiter's own time limit would race a busy machine.
  Event finish(Event::Kind::kManualReset);
  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      if (WaitAny({&e, &finish}, kInfinite) == 0) ++woken;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  e.Set();
  EXPECT_TRUE(Eventually([&] { return woken.load() > 0; }));
  // Time for a second waiter, had the Set woken two, to count itself.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  finish.Set();
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

// A wait may name more events than it keeps room for in its own frame;
// whichever of them another thread signals wakes it with that index, and
// of several signalled the lowest still wins.
TEST(EventTest, WaitOnAnyNumberOfEventsReturnsTheOneSignalled) {
  for (int count : {1, 2, 4, 5, 9}) {
    SCOPED_TRACE(count);
    std::vector<EventRef> events;
    std::vector<const Event*> list;
    for (int i = 0; i < count; ++i) {
      events.push_back(MakeEvent(Event::Kind::kAutoReset));
      list.push_back(events.back().get());
    }
    std::atomic<int> index{-100};
    std::thread waiter([&] { index = WaitAny(list.data(), count, kInfinite); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    events[count - 1]->Set();
    waiter.join();
    EXPECT_EQ(index.load(), count - 1);
    EXPECT_FALSE(events[count - 1]->IsSet()) << "the wait consumed it";

    events[count - 1]->Set();
    events[count / 2]->Set();
    EXPECT_EQ(WaitAny(list.data(), count, kInfinite), count / 2);
  }
}

// Waits on one event come and go (they time out and wait again) while
// others stay; a Set must still reach every wait that stayed, and the ones
// that left must not be touched.
TEST(EventTest, WaitsThatComeAndGoLeaveTheOthersWakeable) {
  EventRef e = MakeEvent(Event::Kind::kManualReset);
  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) {
    const bool restless = i % 2 == 1;
    threads.emplace_back([&, restless] {
      if (restless) {
        while (WaitAny({e.get()}, 1) != 0) {
        }
      } else {
        ASSERT_EQ(WaitAny({e.get()}, kInfinite), 0);
      }
      ++woken;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  e->Set();
  for (auto& t : threads) t.join();
  EXPECT_EQ(woken.load(), 6);
}

#if defined(__linux__)
// A device on a pipe: Advance takes one byte and signals `done`, on
// whichever thread calls it, unless told the descriptor is of no more use.
class PipeDriver final : public EventDriver {
 public:
  PipeDriver() {
    int fds[2];
    if (pipe(fds) == 0) {
      read_end_ = fds[0];
      write_end_ = fds[1];
    }
  }
  ~PipeDriver() {
    close(read_end_);
    close(write_end_);
  }
  int fd() const override { return read_end_; }
  void BeginWatch() override { ++watching; }
  void EndWatch() override { --watching; }
  bool Advance() override {
    ++advances;
    advanced_on = std::this_thread::get_id();
    if (!useful) return false;
    char byte;
    if (read(read_end_, &byte, 1) == 1) done->Set();
    return true;
  }
  void Arrive() { ASSERT_EQ(write(write_end_, "x", 1), 1); }

  EventRef done = MakeEvent(Event::Kind::kManualReset);
  std::atomic<int> watching{0};
  std::atomic<int> advances{0};
  std::atomic<bool> useful{true};
  std::thread::id advanced_on;

 private:
  int read_end_ = -1;
  int write_end_ = -1;
};

// A wait on an event with a driver watches the descriptor and completes the
// transfer on its own thread; its other events still wake it, and a driver
// that is of no more use is let go without the wait spinning on it.
TEST(EventTest, DrivenWaitAdvancesTheDeviceOnItsOwnThread) {
  auto driver = std::make_shared<PipeDriver>();
  driver->done->SetDriver(driver);
  EventRef exit = MakeEvent(Event::Kind::kManualReset);

  std::thread::id waiter_id;
  std::atomic<int> index{-100};
  std::thread waiter([&] {
    waiter_id = std::this_thread::get_id();
    index = WaitAny({driver->done.get(), exit.get()}, kInfinite);
  });
  // The waiter may start late on a busy machine; the data must find it
  // watching, or Advance would not be its own.
  Eventually([&] { return driver->watching.load() != 0; });
  EXPECT_EQ(driver->watching.load(), 1);
  driver->Arrive();
  waiter.join();
  EXPECT_EQ(index.load(), 0);
  EXPECT_EQ(driver->advanced_on, waiter_id);
  EXPECT_EQ(driver->watching.load(), 0);

  driver->done->Reset();
  std::thread stopped([&] { index = WaitAny({driver->done.get(), exit.get()}, kInfinite); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  exit->Set();
  stopped.join();
  EXPECT_EQ(index.load(), 1);

  // The descriptor stays readable, but the driver says it is of no use:
  // asked once, then the wait runs to its time-out.
  driver->useful = false;
  driver->advances = 0;
  driver->Arrive();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitAny({driver->done.get()}, 60), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(60));
  EXPECT_EQ(driver->advances.load(), 1);
  EXPECT_EQ(driver->watching.load(), 0);
  // Nor do this thread's later waits with it ask again.
  EXPECT_EQ(WaitAny({driver->done.get()}, 30), kWaitTimeout);
  EXPECT_EQ(driver->advances.load(), 1);
  driver->done->SetDriver(nullptr);  // the two hold each other
}

// A thread keeps the descriptor it watches between waits; a wait with
// another driver watches that one's instead, and a wait with the first
// again watches the first again.
TEST(EventTest, DrivenWaitsOfOneThreadWatchTheDriverTheyWaitWith) {
  auto a = std::make_shared<PipeDriver>();
  auto b = std::make_shared<PipeDriver>();
  a->done->SetDriver(a);
  b->done->SetDriver(b);
  EventRef exit = MakeEvent(Event::Kind::kManualReset);
  const std::thread::id self = std::this_thread::get_id();
  for (PipeDriver* d : {a.get(), b.get(), a.get(), b.get()}) {
    d->done->Reset();
    std::thread arrive([d] {
      Eventually([d] { return d->watching.load() != 0; });
      d->Arrive();
    });
    EXPECT_EQ(WaitAny({d->done.get(), exit.get()}, 20000), 0);
    arrive.join();
    EXPECT_EQ(d->advanced_on, self);
  }
  a->done->SetDriver(nullptr);
  b->done->SetDriver(nullptr);
}

// A signal from another thread reaches a wait that sleeps on a driver's
// descriptor (where no condition wakes it) however the Set and the wait's
// last look interleave: a lost one would hang here.
TEST(EventTest, DrivenWaitMissesNoSignalFromAnotherThread) {
  auto driver = std::make_shared<PipeDriver>();
  EventRef ping = MakeEvent(Event::Kind::kAutoReset);
  EventRef pong = MakeEvent(Event::Kind::kAutoReset);
  ping->SetDriver(driver);  // its descriptor never becomes readable
  constexpr int kRounds = 5000;
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      ASSERT_EQ(WaitAny({pong.get()}, kInfinite), 0);
      ping->Set();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    pong->Set();
    // With and without a deadline, which the wait's timer keeps: a poke
    // must survive the timer being armed again.
    ASSERT_EQ(WaitAny({ping.get()}, i % 2 == 0 ? kInfinite : 600000), 0);
  }
  other.join();
  EXPECT_EQ(driver->advances.load(), 0);
  EXPECT_EQ(driver->watching.load(), 0);
  ping->SetDriver(nullptr);
}

// A driven wait's deadline is kept by a timer of its thread that stays
// armed between waits: a wait ends at its own deadline, neither at a later
// one left by an earlier wait nor at an earlier one.
TEST(EventTest, DrivenWaitsEndAtTheirOwnDeadlines) {
  auto driver = std::make_shared<PipeDriver>();
  EventRef done = MakeEvent(Event::Kind::kAutoReset);
  done->SetDriver(driver);  // its descriptor never becomes readable
  struct Case {
    int64_t timeout_ms;
    bool signalled;  // by another thread, soon
  };
  // The first of each pair leaves the timer armed for a deadline that the
  // second must not take for its own.
  const Case cases[] = {{60, true}, {300, false}, {5000, true}, {50, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timeout_ms);
    std::thread setter;
    if (c.signalled) {
      setter = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        done->Set();
      });
    }
    const auto t0 = std::chrono::steady_clock::now();
    const int woken = WaitAny({done.get()}, c.timeout_ms);
    const auto waited = std::chrono::steady_clock::now() - t0;
    if (setter.joinable()) setter.join();
    if (c.signalled) {
      EXPECT_EQ(woken, 0);
    } else {
      EXPECT_EQ(woken, kWaitTimeout);
      EXPECT_GE(waited, std::chrono::milliseconds(c.timeout_ms));
      EXPECT_LT(waited, std::chrono::milliseconds(c.timeout_ms + 2000))
          << "waited for an earlier wait's deadline";
    }
  }
  done->SetDriver(nullptr);
}
#endif

}  // namespace
}  // namespace quarnex
