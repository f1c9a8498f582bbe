#include "adapter/line_scheduler.h"

#include <pthread.h>
#include <sched.h>
#if defined(__linux__)
#include <sys/prctl.h>
#elif defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>
#endif

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <new>

namespace quarnex {

namespace {

// The wake-up latency we assume before any has been measured, and the most
// we ever spin for: beyond that, a late wake-up is cheaper than the core.
constexpr auto kInitialWakeLatency = std::chrono::microseconds(30);
#if defined(_WIN32)
// Windows wakes a timed wait on its timer's millisecond ticks at best.
constexpr auto kMaxWakeLatency = std::chrono::microseconds(2000);
#else
constexpr auto kMaxWakeLatency = std::chrono::microseconds(200);
#endif
// Weight of one new sample in the running latency estimate (1/16).
constexpr int kLatencySmoothing = 16;
// The most timers run in one round; the rest run in the next, at once. A
// fixed batch keeps the timer path free of allocations.
constexpr size_t kDueBatch = 64;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

LineScheduler& LineScheduler::Instance() {
  static LineScheduler scheduler;
  return scheduler;
}

LineScheduler::LineScheduler() {
  std::lock_guard<std::mutex> lock(mu_);
  StartThreadLocked();
}

LineScheduler::~LineScheduler() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  wake_.notify_one();
  // No thread starts once stopping_ is set, so thread_ no longer changes.
  if (thread_.joinable()) thread_.join();
}

void LineScheduler::StartThreadLocked() noexcept {
  if (thread_.joinable() || stopping_) return;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::exception& e) {
    // Out of threads or memory for the moment. The timers wait in the heap
    // and the next Schedule tries again; the port's user sees transfers
    // pending, which its blocked-transfer timeout ends.
    if (!start_failure_told_) {
      std::fprintf(stderr,
                   "simulated adapter: cannot start the line timer thread (%s); trying again\n",
                   e.what());
      start_failure_told_ = true;
    }
  }
}

bool LineScheduler::Schedule(SimClock::time_point deadline, std::shared_ptr<TimerTarget> target,
                             uint64_t cookie) noexcept {
  bool earliest = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) return false;
    earliest = heap_.empty() || deadline < heap_.top().deadline;
    try {
      heap_.push(Entry{deadline, next_sequence_, std::move(target), cookie});
    } catch (const std::bad_alloc&) {
      return false;
    }
    ++next_sequence_;
    StartThreadLocked();
  }
  // Only a new earliest deadline changes how long the thread should sleep.
  if (earliest) wake_.notify_one();
  return true;
}

LineScheduler::Lateness LineScheduler::TotalLateness() const {
  std::lock_guard<std::mutex> lock(mu_);
  return Lateness{lateness_sum_us_, lateness_count_};
}

void LineScheduler::Run() noexcept {
#if defined(__linux__)
  // The default 50 us slack alone would make every completion late.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#elif defined(_WIN32)
  // The default timer tick of 15.6 ms alone would make every completion
  // late; 1 ms for as long as the process lives.
  timeBeginPeriod(1);
#endif
  // Where the process may, the lowest real-time priority keeps busy worker
  // threads from delaying the line clock by whole time slices. Without the
  // privilege the thread stays a normal one; the spin below is bounded, so
  // the priority cannot starve the machine.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  // Running mean and mean deviation of the kernel's wake-up latency; the
  // thread wakes that mean plus two deviations ahead of a deadline, so that
  // most wake-ups land before it and few pay the whole latency late.
  SimClock::duration latency_mean = kInitialWakeLatency;
  SimClock::duration latency_deviation = SimClock::duration::zero();
  SimClock::duration wake_latency = kInitialWakeLatency;
  std::array<Entry, kDueBatch> due;
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    if (heap_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const SimClock::time_point deadline = heap_.top().deadline;
    SimClock::time_point now = SimClock::now();
    if (deadline > now) {
      const SimClock::time_point early = deadline - wake_latency;
      if (early > now) {
        if (wake_.wait_until(lock, early) == std::cv_status::timeout) {
          // Learn how late the kernel wakes us, so the next sleep ends that
          // much ahead of its deadline.
          const SimClock::duration sample =
              std::min<SimClock::duration>(SimClock::now() - early, kMaxWakeLatency);
          const SimClock::duration miss = sample - latency_mean;
          latency_mean += miss / kLatencySmoothing;
          latency_deviation +=
              ((miss < SimClock::duration::zero() ? -miss : miss) - latency_deviation) /
              kLatencySmoothing;
          wake_latency =
              std::min<SimClock::duration>(latency_mean + 2 * latency_deviation, kMaxWakeLatency);
        }
        continue;  // an earlier timer may have arrived meanwhile
      }
      // Within one wake-up latency of the deadline: spin out the residue,
      // without the lock so that Schedule never waits for us.
      lock.unlock();
      while (SimClock::now() < deadline) CpuRelax();
      lock.lock();
      continue;
    }
    size_t ran = 0;
    while (ran < due.size() && !heap_.empty() && heap_.top().deadline <= now) {
      due[ran++] = heap_.top();
      heap_.pop();
    }
    lock.unlock();
    double lateness_us = 0;
    for (size_t i = 0; i < ran; ++i) {
      Entry& e = due[i];
      lateness_us +=
          std::chrono::duration<double, std::micro>(SimClock::now() - e.deadline).count();
      try {
        e.target->OnTimer(e.cookie, e.deadline);
      } catch (...) {
        // A target that could not finish its work (out of memory) loses
        // this timer; every other line goes on.
      }
      e.target.reset();  // outside the lock: the last reference may go here
    }
    lock.lock();
    lateness_sum_us_ += lateness_us;
    lateness_count_ += ran;
  }
}

}  // namespace quarnex
