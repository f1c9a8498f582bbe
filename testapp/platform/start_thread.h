// Starting a thread without exceptions.
//
// std::thread reports a thread the system cannot create (no memory for its
// stack under `ulimit -v`, the process's thread limit) only by throwing
// std::system_error. The engine uses no exceptions, so this is the one
// place that turns that into a value a caller can act on.
//
// Thread-safety: no state; any thread.
#ifndef QUARNEX_PLATFORM_START_THREAD_H_
#define QUARNEX_PLATFORM_START_THREAD_H_

#include <functional>
#include <string>
#include <thread>

namespace quarnex {

// Starts `body` on a new thread held by *thread (which must not hold a
// running thread). On failure returns false, leaves *thread empty and
// stores the system's reason in *reason ("cannot create a thread: ...").
bool StartThread(std::thread* thread, std::function<void()> body, std::string* reason);

// StartThread's shape, so that a caller can be handed another starter (a
// test's that fails on demand).
using ThreadStarter = bool (*)(std::thread* thread, std::function<void()> body,
                               std::string* reason);

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_START_THREAD_H_
