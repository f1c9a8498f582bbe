#include "testapp/platform/event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

namespace quarnex {

namespace {

// Waking a thread that sleeps on another core costs tens of microseconds
// where idle cores sleep deeply (virtual machines above all), far longer
// than a packet takes on a fast line. So a wait first watches its events
// for a short while, handing the core to any other runnable thread between
// looks, and only then goes to sleep. The spin adapts per thread: one that
// ended empty-handed makes the thread skip spinning for its next 1, 2, 4 ...
// 64 waits, so threads that wait long (paced lines, idle ports) hardly spin
// at all; and no more threads spin at once than leave one core free.
constexpr auto kSpinLimit = std::chrono::microseconds(200);
constexpr int kMaxSpinBackoff = 64;

std::atomic<int> g_spinners{0};
thread_local int t_spin_skip = 0;     // waits left before this thread spins again
thread_local int t_spin_backoff = 0;  // the skip set after the last empty spin

int MaxSpinners() {
  static const int max = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);
  return max;
}

// Watches `events` for up to kSpinLimit; true once one looks signalled,
// false when none did or this thread should not spin now.
bool SpinUntilOneLooksSet(const Event* const* events, int count) {
  if (t_spin_skip > 0) {
    --t_spin_skip;
    return false;
  }
  if (g_spinners.fetch_add(1, std::memory_order_relaxed) >= MaxSpinners()) {
    g_spinners.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + kSpinLimit;
  bool seen = false;
  for (;;) {
    for (int i = 0; i < count && !seen; ++i) {
      seen = events[i]->LooksSet();
    }
    if (seen || std::chrono::steady_clock::now() >= deadline) break;
    // Not a pause loop: the threads that will signal us may need this core.
    std::this_thread::yield();
  }
  g_spinners.fetch_sub(1, std::memory_order_relaxed);
  if (seen) {
    t_spin_backoff = 0;
  } else {
    t_spin_backoff = std::min(kMaxSpinBackoff, std::max(1, t_spin_backoff * 2));
    t_spin_skip = t_spin_backoff;
  }
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

EventRef MakeEvent(Event::Kind kind, bool initially_set) {
  return std::make_shared<Event>(kind, initially_set);
}

int WaitAny(const Event* const* events, int count, int64_t timeout_ms) {
  if (count <= 0) return kWaitFailed;
  for (int i = 0; i < count; ++i) {
    if (events[i] == nullptr) return kWaitFailed;
  }
  // Fast path: something is signalled already.
  for (int i = 0; i < count; ++i) {
    auto* e = const_cast<Event*>(events[i]);
    std::lock_guard<std::mutex> lock(e->mu_);
    if (e->TryTakeLocked()) return i;
  }
  if (timeout_ms == 0) return kWaitTimeout;
  if (SpinUntilOneLooksSet(events, count)) {
    for (int i = 0; i < count; ++i) {
      auto* e = const_cast<Event*>(events[i]);
      std::lock_guard<std::mutex> lock(e->mu_);
      if (e->TryTakeLocked()) return i;
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
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int result = kWaitTimeout;
  for (;;) {
    // Registered everywhere, so a Set from now on pokes us; scan in index
    // order so the lowest signalled index wins.
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
      auto* e = const_cast<Event*>(events[i]);
      std::lock_guard<std::mutex> lock(e->mu_);
      if (e->TryTakeLocked()) {
        result = i;
        found = true;
      }
    }
    if (found) break;
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
  return result;
}

int WaitAny(std::initializer_list<const Event*> events, int64_t timeout_ms) {
  return WaitAny(events.begin(), static_cast<int>(events.size()), timeout_ms);
}

}  // namespace quarnex
