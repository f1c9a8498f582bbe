#include "testapp/platform/thread_priority.h"

#include <gtest/gtest.h>

#include <thread>

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace quarnex {
namespace {

#if defined(__linux__)
int ThreadNice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

TEST(ThreadPriorityTest, LowersOnlyTheCallingThread) {
  const int main_nice = ThreadNice();
  int worker_nice = -100;
  std::thread worker([&] {
    EXPECT_TRUE(LowerCurrentThreadPriority(kWorkerNice));
    worker_nice = ThreadNice();
  });
  worker.join();
  EXPECT_EQ(worker_nice, std::max(main_nice, kWorkerNice));
  EXPECT_EQ(ThreadNice(), main_nice);
}
#endif

}  // namespace
}  // namespace quarnex
