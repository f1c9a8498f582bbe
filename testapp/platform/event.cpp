#include "testapp/platform/event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

namespace quarnex {

namespace {

// Waking a thread that sleeps on another core costs tens of microseconds
// where idle cores sleep deeply (virtual machines above all), far longer
// than a packet takes on a fast line. So a wait may first watch its events
// for a short while, handing the core to any other runnable thread between
// looks, and only then go to sleep. Only threads whose waits are short
// spin: each thread keeps a running average of how long its waits took,
// and spins while that average stays below the spin limit, so the threads
// of paced lines and idle ports never spin (nor does a thread whose waits
// alternate between short and long). No more threads spin at once than
// leave one core free.
using Clock = std::chrono::steady_clock;
constexpr auto kSpinLimit = std::chrono::microseconds(200);
// One long wait weighs no more than this in the average, so a pause in a
// fast run does not end its spinning for long.
constexpr auto kLongestCountedWait = 4 * kSpinLimit;
constexpr int kAverageWeight = 8;  // the newest wait counts 1/8

std::atomic<int> g_spinners{0};
thread_local Clock::duration t_typical_wait{0};
thread_local bool t_spinning_allowed = true;

int MaxSpinners() {
  static const int max = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);
  return max;
}

void CountWait(Clock::duration waited) {
  const Clock::duration counted = std::min<Clock::duration>(waited, kLongestCountedWait);
  t_typical_wait += (counted - t_typical_wait) / kAverageWeight;
}

// Watches `events` until `deadline`; true once one looks signalled, false
// when none did or this thread should not spin now.
bool SpinUntilOneLooksSet(const Event* const* events, int count, Clock::time_point deadline) {
  if (!t_spinning_allowed || t_typical_wait >= kSpinLimit) return false;
  if (g_spinners.fetch_add(1, std::memory_order_relaxed) >= MaxSpinners()) {
    g_spinners.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  bool seen = false;
  for (;;) {
    for (int i = 0; i < count && !seen; ++i) {
      seen = events[i]->LooksSet();
    }
    if (seen || Clock::now() >= deadline) break;
    // Not a pause loop: the threads that will signal us may need this core.
    std::this_thread::yield();
  }
  g_spinners.fetch_sub(1, std::memory_order_relaxed);
  return seen;
}

}  // namespace

// One per waiting thread and call: the events it waits on poke it.
struct Waiter {
  std::mutex mu;
  std::condition_variable cv;
  bool poked = false;  // guarded by mu
};

Event::Event(Kind kind, bool initially_set) : kind_(kind), signalled_(initially_set) {}

Event::~Event() = default;

void Event::Set() {
  std::lock_guard<std::mutex> lock(mu_);
  signalled_.store(true, std::memory_order_release);
  // Lock order is always event, then waiter; WaitAny never holds both in
  // the other order. The waiter is notified after its own lock is released
  // (it would only wake to wait for that lock), but while the event's lock
  // is held: a waiter unregisters under that lock before its record goes.
  for (Waiter* w : waiters_) {
    {
      std::lock_guard<std::mutex> wl(w->mu);
      w->poked = true;
    }
    w->cv.notify_one();
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  signalled_.store(false, std::memory_order_relaxed);
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(mu_);
  return signalled_.load(std::memory_order_relaxed);
}

bool Event::TryTakeLocked() {
  if (!signalled_.load(std::memory_order_relaxed)) return false;
  if (kind_ == Kind::kAutoReset) signalled_.store(false, std::memory_order_relaxed);
  return true;
}

int Event::TakeFirstSignalled(const Event* const* events, int count) {
  for (int i = 0; i < count; ++i) {
    auto* e = const_cast<Event*>(events[i]);
    std::lock_guard<std::mutex> lock(e->mu_);
    if (e->TryTakeLocked()) return i;
  }
  return -1;
}

EventRef MakeEvent(Event::Kind kind, bool initially_set) {
  return std::make_shared<Event>(kind, initially_set);
}

int WaitAny(const Event* const* events, int count, int64_t timeout_ms) {
  if (count <= 0) return kWaitFailed;
  for (int i = 0; i < count; ++i) {
    if (events[i] == nullptr) return kWaitFailed;
  }
  // Fast path: something is signalled already.
  const int ready = Event::TakeFirstSignalled(events, count);
  if (ready >= 0) return ready;
  if (timeout_ms == 0) return kWaitTimeout;
  const Clock::time_point began = Clock::now();
  if (SpinUntilOneLooksSet(events, count, began + kSpinLimit)) {
    const int seen = Event::TakeFirstSignalled(events, count);
    if (seen >= 0) {
      CountWait(Clock::now() - began);
      return seen;
    }
  }

  Waiter waiter;
  auto unregister = [&] {
    for (int i = 0; i < count; ++i) {
      auto* e = const_cast<Event*>(events[i]);
      std::lock_guard<std::mutex> lock(e->mu_);
      auto it = std::find(e->waiters_.begin(), e->waiters_.end(), &waiter);
      if (it != e->waiters_.end()) e->waiters_.erase(it);
    }
  };
  for (int i = 0; i < count; ++i) {
    auto* e = const_cast<Event*>(events[i]);
    std::lock_guard<std::mutex> lock(e->mu_);
    e->waiters_.push_back(&waiter);
  }
  const auto deadline = began + std::chrono::milliseconds(timeout_ms);
  int result = kWaitTimeout;
  for (;;) {
    // Registered everywhere, so a Set from now on pokes us; scan in index
    // order so the lowest signalled index wins.
    const int taken = Event::TakeFirstSignalled(events, count);
    if (taken >= 0) {
      result = taken;
      break;
    }
    std::unique_lock<std::mutex> wl(waiter.mu);
    if (timeout_ms == kInfinite) {
      waiter.cv.wait(wl, [&] { return waiter.poked; });
    } else if (!waiter.cv.wait_until(wl, deadline, [&] { return waiter.poked; })) {
      result = kWaitTimeout;
      break;
    }
    waiter.poked = false;
  }
  unregister();
  CountWait(Clock::now() - began);
  return result;
}

int WaitAny(std::initializer_list<const Event*> events, int64_t timeout_ms) {
  return WaitAny(events.begin(), static_cast<int>(events.size()), timeout_ms);
}

void AllowWaitSpinning(bool allow) { t_spinning_allowed = allow; }

}  // namespace quarnex
