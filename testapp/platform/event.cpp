#include "testapp/platform/event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#if defined(__linux__)
#include <errno.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#endif

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

// One per waiting thread and call: the events it waits on poke it, through
// its condition or, for a driven wait (which sleeps in epoll), its wake-up
// descriptor.
struct Waiter {
  std::mutex mu;
  std::condition_variable cv;
  bool poked = false;  // guarded by mu
  int wake_fd = -1;    // fixed for the wait; -1: the condition
  std::thread::id thread = std::this_thread::get_id();
};

namespace {

#if defined(__linux__)
// The calling thread's wake-up descriptor for driven waits: a timer, made
// on its first one and closed when the thread ends. It ends a wait at its
// deadline, and another thread wakes the wait by making it expire at once.
// One descriptor for both, and no time-out of the sleep itself: a second
// descriptor to wake on, or a kernel timer started and stopped for every
// sleep, would cost the wait about as much as a packet's own work on a
// fast line. So the timer stays armed across waits and is moved only when
// a wait must end earlier than it would fire; a wait it wakes too early
// arms it anew and sleeps on.
class ThreadWakeTimer {
 public:
  ~ThreadWakeTimer() {
    if (fd_ >= 0) close(fd_);
  }
  // The descriptor; -1 when none can be made.
  int Get() {
    if (fd_ < 0 && !failed_) {
      fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
      failed_ = fd_ < 0;
    }
    return fd_;
  }
  // Makes the timer fire no later than `deadline`. False when it cannot be
  // set; the wait then needs a time-out of its own.
  bool ArmBy(Clock::time_point deadline) {
    if (armed_ && fires_at_ <= deadline) return true;
    // The steady clock is CLOCK_MONOTONIC, which the timer counts in.
    const int64_t ns = std::max<int64_t>(
        1,
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count());
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    if (timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr) != 0) return false;
    armed_ = true;
    fires_at_ = deadline;
    return true;
  }
  // The descriptor showed ready: the timer fired (at its time or poked),
  // so it is armed no more.
  void Drain() {
    uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t n = read(fd_, &expirations, sizeof(expirations));
    armed_ = false;
  }

 private:
  int fd_ = -1;
  bool failed_ = false;
  bool armed_ = false;          // the owner's view; a poke makes it fire early
  Clock::time_point fires_at_;  // while armed_
};

thread_local ThreadWakeTimer t_wake_timer;

// The calling thread's epoll set for driven waits: its timer, and the
// descriptor of the driver it last waited with. It stays made between
// waits, since a set built for every sleep (as poll() builds one) costs the
// wait a good part of a packet's work. A wait with another driver builds
// the set anew rather than taking the old descriptor out: that one may be
// closed by now, its number another file's.
class ThreadWaitSet {
 public:
  static constexpr uint64_t kTimerToken = 0;
  static constexpr uint64_t kDeviceToken = 1;

  ~ThreadWaitSet() {
    if (fd_ >= 0) close(fd_);
  }
  // The descriptor that wakes the thread's driven waits (its timer), the
  // set made on the first call; -1 when either cannot be made.
  int WakeFd() {
    if (fd_ < 0 && !failed_) failed_ = t_wake_timer.Get() < 0 || !Rebuild();
    return fd_ >= 0 ? t_wake_timer.Get() : -1;
  }
  // Makes the set watch `driver`'s descriptor for input instead of the last
  // driver's. False when it does not: the set cannot be made, the
  // descriptor cannot be watched, or this driver said it is of no more use
  // (Unwatch).
  bool Watch(const EventDriverRef& driver) {
    if (driver.get() == driver_id_ && !driver_.expired() && fd_ >= 0) return watching_;
    driver_ = driver;
    driver_id_ = driver.get();
    watching_ = false;
    if (!Rebuild()) return false;
    epoll_event input{};
    input.events = EPOLLIN;
    input.data.u64 = kDeviceToken;
    watching_ = epoll_ctl(fd_, EPOLL_CTL_ADD, driver->fd(), &input) == 0;
    return watching_;
  }
  // The driver's descriptor is of no more use: the set leaves it out (it
  // may report a hang-up for ever), also for later waits with the driver.
  void Unwatch() {
    watching_ = false;
    Rebuild();
  }
  // Waits for the timer or the descriptor, at most `timeout_ms` (-1: no
  // limit); stores what showed ready. False on a time-out or a signal.
  bool Wait(int timeout_ms, bool* timer_ready, bool* device_ready) {
    epoll_event ready[2];
    const int n = epoll_wait(fd_, ready, 2, timeout_ms);
    if (n < 0 && errno != EINTR) {
      // Out of kernel memory: look again shortly rather than spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < n; ++i) {
      if (ready[i].data.u64 == kTimerToken) *timer_ready = true;
      if (ready[i].data.u64 == kDeviceToken) *device_ready = true;
    }
    return n > 0;
  }

 private:
  // A new set with the timer alone. False (and no set) when it cannot be
  // made.
  bool Rebuild() {
    if (fd_ >= 0) close(fd_);
    fd_ = epoll_create1(EPOLL_CLOEXEC);
    epoll_event timer{};
    timer.events = EPOLLIN;
    timer.data.u64 = kTimerToken;
    if (fd_ >= 0 && epoll_ctl(fd_, EPOLL_CTL_ADD, t_wake_timer.Get(), &timer) != 0) {
      close(fd_);
      fd_ = -1;
    }
    return fd_ >= 0;
  }

  int fd_ = -1;
  bool failed_ = false;
  // The driver whose descriptor the set holds, known by its address while
  // it lives (a dead one's address may come back as another driver's).
  std::weak_ptr<EventDriver> driver_;
  const EventDriver* driver_id_ = nullptr;
  bool watching_ = false;
};

thread_local ThreadWaitSet t_wait_set;

// Wakes the driven wait that sleeps on `fd` (another thread's timer): it
// expires now. The owner re-arms it after it noticed, before it looks at
// its events again, so no poke is lost by that.
void Poke(int fd) {
  itimerspec now{};
  now.it_value.tv_nsec = 1;
  timerfd_settime(fd, 0, &now, nullptr);
}
#endif

}  // namespace

Event::Event(Kind kind, bool initially_set) : kind_(kind), signalled_(initially_set) {}

Event::~Event() = default;

void Event::Set() {
  signalled_.store(true, std::memory_order_seq_cst);
  // A wait registers before its last look at the signal, so one that is
  // not counted here yet will see the signal itself.
  if (waiter_count_.load(std::memory_order_seq_cst) == 0) return;
  std::lock_guard<std::mutex> lock(mu_);
  // Lock order is always event, then waiter; WaitAny never holds both in
  // the other order. The waiter is notified after its own lock is released
  // (it would only wake to wait for that lock), but while the event's lock
  // is held: a waiter unregisters under that lock before its record goes.
  for (WaitLink* link = waiters_; link != nullptr; link = link->next) {
    Waiter* w = link->waiter;
#if defined(__linux__)
    if (w->wake_fd >= 0) {
      // A driven wait looks at its events after every wake-up of its poll,
      // and one that completed the transfer itself needs no wake-up.
      if (w->thread != std::this_thread::get_id()) Poke(w->wake_fd);
      continue;
    }
#endif
    {
      std::lock_guard<std::mutex> wl(w->mu);
      w->poked = true;
    }
    w->cv.notify_one();
  }
}

void Event::SetDriver(EventDriverRef driver) {
  std::lock_guard<std::mutex> lock(mu_);
  has_driver_.store(driver != nullptr, std::memory_order_release);
  driver_ = std::move(driver);
}

void Event::Reset() { signalled_.store(false, std::memory_order_release); }

bool Event::IsSet() const { return signalled_.load(std::memory_order_acquire); }

bool Event::TryTake() {
  if (!signalled_.load(std::memory_order_seq_cst)) return false;
  if (kind_ == Kind::kManualReset) return true;
  // Of several waits that saw the signal, only the one that swaps it out
  // returns this event.
  return signalled_.exchange(false, std::memory_order_acq_rel);
}

int Event::TakeFirstSignalled(const Event* const* events, int count) {
  for (int i = 0; i < count; ++i) {
    if (const_cast<Event*>(events[i])->TryTake()) return i;
  }
  return -1;
}

EventDriverRef Event::Register(WaitLink* link) {
  std::lock_guard<std::mutex> lock(mu_);
  link->prev = nullptr;
  link->next = waiters_;
  if (waiters_ != nullptr) waiters_->prev = link;
  waiters_ = link;
  waiter_count_.fetch_add(1, std::memory_order_seq_cst);
  return driver_;
}

void Event::Unregister(WaitLink* link) {
  std::lock_guard<std::mutex> lock(mu_);
  if (link->prev != nullptr) {
    link->prev->next = link->next;
  } else {
    waiters_ = link->next;
  }
  if (link->next != nullptr) link->next->prev = link->prev;
  waiter_count_.fetch_sub(1, std::memory_order_relaxed);
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
  const auto deadline = began + std::chrono::milliseconds(timeout_ms);

  // How the wait sleeps is fixed before it registers, since Set pokes it by
  // that: in epoll on the thread's wake-up descriptor when an event may
  // lend a driver, else on its condition.
  int wake_fd = -1;
#if defined(__linux__)
  for (int i = 0; i < count && wake_fd < 0; ++i) {
    if (events[i]->HasDriver()) wake_fd = t_wait_set.WakeFd();
  }
#endif
  // A driven wait sleeps in the kernel at once: the descriptor wakes it.
  if (wake_fd < 0 && SpinUntilOneLooksSet(events, count, began + kSpinLimit)) {
    const int seen = Event::TakeFirstSignalled(events, count);
    if (seen >= 0) {
      CountWait(Clock::now() - began);
      return seen;
    }
  }

  Waiter waiter;
  waiter.wake_fd = wake_fd;
  // The links live here, in the frame, for the usual few events.
  constexpr int kFramedLinks = 4;
  Event::WaitLink framed_links[kFramedLinks];
  std::unique_ptr<Event::WaitLink[]> more_links;
  Event::WaitLink* links = framed_links;
  if (count > kFramedLinks) {
    more_links = std::make_unique<Event::WaitLink[]>(static_cast<size_t>(count));
    links = more_links.get();
  }
  EventDriverRef driver;
  for (int i = 0; i < count; ++i) {
    links[i].waiter = &waiter;
    EventDriverRef lent = const_cast<Event*>(events[i])->Register(&links[i]);
    if (!driver) driver = std::move(lent);
  }
  int result = kWaitTimeout;
#if defined(__linux__)
  if (wake_fd >= 0) {
    // The driver may have been taken back meanwhile, or be of no more use:
    // then only the events wake the wait.
    bool watch_fd = driver != nullptr && t_wait_set.Watch(driver);
    if (watch_fd) driver->BeginWatch();
    const bool watched = watch_fd;
    for (;;) {
      // Armed before the look at the events: a poke from now on is not
      // undone by arming, and one before it came after a signal the look
      // sees.
      const bool timed = timeout_ms != kInfinite;
      const bool armed = timed && t_wake_timer.ArmBy(deadline);
      const int taken = Event::TakeFirstSignalled(events, count);
      if (taken >= 0) {
        result = taken;
        break;
      }
      int wait_ms = -1;
      if (timed) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) break;
        if (!armed) {
          // Rounded up, so the wait does not end early.
          wait_ms = static_cast<int>(std::min<int64_t>(
              std::chrono::ceil<std::chrono::milliseconds>(left).count(), 1000000));
        }
      }
      bool timer_ready = false;
      bool device_ready = false;
      if (!t_wait_set.Wait(wait_ms, &timer_ready, &device_ready)) continue;
      if (timer_ready) t_wake_timer.Drain();
      if (watch_fd && device_ready && !driver->Advance()) {
        watch_fd = false;
        t_wait_set.Unwatch();
      }
    }
    if (watched) driver->EndWatch();
  }
#endif
  for (; wake_fd < 0;) {
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
  for (int i = 0; i < count; ++i) const_cast<Event*>(events[i])->Unregister(&links[i]);
  CountWait(Clock::now() - began);
  return result;
}

int WaitAny(std::initializer_list<const Event*> events, int64_t timeout_ms) {
  return WaitAny(events.begin(), static_cast<int>(events.size()), timeout_ms);
}

void AllowWaitSpinning(bool allow) { t_spinning_allowed = allow; }

}  // namespace quarnex
