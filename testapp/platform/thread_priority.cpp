#include "testapp/platform/thread_priority.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace quarnex {

bool LowerCurrentThreadPriority(int nice) {
#if defined(__linux__)
  // On Linux the niceness belongs to the thread (its kernel task id).
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  const int current = getpriority(PRIO_PROCESS, tid);
  if (current >= nice) return true;
  return setpriority(PRIO_PROCESS, tid, nice) == 0;
#else
  (void)nice;
  return false;
#endif
}

}  // namespace quarnex
