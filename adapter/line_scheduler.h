// LineScheduler: the one timer thread that paces every simulated line.
//
// All ports of all simulated adapters share it, so 128 busy ports cost one
// thread, not 128: that is why it is process-wide (Instance) and not held
// by a program's run context. A timer runs a TimerTarget's OnTimer on the scheduler
// thread at (never before) its deadline. Lateness matters: a frame that
// completes 40 us late costs a 1 Mbit/s, 1024-byte line half a percent of
// its measured throughput. The thread therefore runs with 1 ns timer slack,
// wakes a little ahead of a deadline by the wake-up latency it measured, and
// spins only for that short residue. Where permitted it runs at the lowest
// real-time priority, so that busy tester threads cannot hold it back.
//
// Thread-safety: Schedule may be called from any thread, also from inside
// OnTimer. Callbacks run one at a time on the scheduler thread and must not
// block for long: every line in the process waits behind them.
//
// Nothing throws out of the scheduler: a thread that cannot be started is
// tried again at the next Schedule (timers wait meanwhile), a timer that
// cannot be stored is refused, and an exception out of OnTimer ends that
// one timer.
#ifndef QUARNEX_ADAPTER_LINE_SCHEDULER_H_
#define QUARNEX_ADAPTER_LINE_SCHEDULER_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace quarnex {

using SimClock = std::chrono::steady_clock;

class TimerTarget {
 public:
  virtual ~TimerTarget() = default;
  // Runs on the scheduler thread once `deadline` has passed; `cookie` is the
  // value given to Schedule. Targets ignore timers that no longer apply
  // (their port was closed or purged) rather than cancelling them.
  // It should not throw; if it does, the exception ends this timer only.
  virtual void OnTimer(uint64_t cookie, SimClock::time_point deadline) = 0;
};

class LineScheduler {
 public:
  // The process-wide scheduler; its thread starts on first use and is joined
  // when the process's statics are destroyed.
  static LineScheduler& Instance();

  LineScheduler();
  ~LineScheduler();
  LineScheduler(const LineScheduler&) = delete;
  LineScheduler& operator=(const LineScheduler&) = delete;

  // Runs target->OnTimer(cookie, deadline) at or after `deadline`. The
  // scheduler keeps `target` alive until then. Returns false, and the timer
  // never runs, when memory for it cannot be had or shutdown began.
  bool Schedule(SimClock::time_point deadline, std::shared_ptr<TimerTarget> target,
                uint64_t cookie) noexcept;

  // Total lateness of the timers run so far, for tests and benchmarks that
  // check the pacing precision: the mean over an interval is the difference
  // of two readings.
  struct Lateness {
    double total_us = 0;
    uint64_t timers = 0;
  };
  Lateness TotalLateness() const;

 private:
  struct Entry {
    SimClock::time_point deadline;
    uint64_t sequence;  // keeps equal deadlines in the order they were set
    std::shared_ptr<TimerTarget> target;
    uint64_t cookie;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.deadline != b.deadline ? a.deadline > b.deadline : a.sequence > b.sequence;
    }
  };

  // Starts the thread when it is not running; caller holds mu_.
  void StartThreadLocked() noexcept;
  void Run() noexcept;

  mutable std::mutex mu_;
  std::condition_variable wake_;
  std::priority_queue<Entry, std::vector<Entry>, Later> heap_;  // guarded by mu_
  uint64_t next_sequence_ = 0;                                  // guarded by mu_
  bool stopping_ = false;                                       // guarded by mu_
  double lateness_sum_us_ = 0;                                  // guarded by mu_
  uint64_t lateness_count_ = 0;                                 // guarded by mu_
  bool start_failure_told_ = false;                             // guarded by mu_
  std::thread thread_;  // guarded by mu_; started last, after the members it uses exist
};

}  // namespace quarnex

#endif  // QUARNEX_ADAPTER_LINE_SCHEDULER_H_
