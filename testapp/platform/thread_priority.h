// Thread priority: lets the engine's worker threads yield to the
// user-interface thread and the adapter's timer thread.
#ifndef QUARNEX_PLATFORM_THREAD_PRIORITY_H_
#define QUARNEX_PLATFORM_THREAD_PRIORITY_H_

namespace quarnex {

// The niceness the engine's worker threads run at when their run has lines
// enough to keep every core busy. With a hundred busy lines on two cores,
// workers at the window's own priority kept its thread waiting for a core
// for hundreds of milliseconds; at 10 the window answers at once and the
// workers still get every idle cycle.
inline constexpr int kWorkerNice = 10;

// Raises the calling thread's niceness to `nice` (a lower priority), which
// needs no privilege. Returns false when the platform refused or has no
// per-thread priority; the thread then simply runs as before.
bool LowerCurrentThreadPriority(int nice);

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_THREAD_PRIORITY_H_
