#include "testapp/platform/event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

namespace quarnex {

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
  signalled_ = true;
  // Lock order is always event, then waiter; WaitAny never holds both in
  // the other order.
  for (Waiter* w : waiters_) {
    std::lock_guard<std::mutex> wl(w->mu);
    w->poked = true;
    w->cv.notify_one();
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  signalled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(mu_);
  return signalled_;
}

bool Event::TryTakeLocked() {
  if (!signalled_) return false;
  if (kind_ == Kind::kAutoReset) signalled_ = false;
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
