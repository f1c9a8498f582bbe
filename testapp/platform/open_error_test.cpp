#include "testapp/platform/open_error.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "testapp/platform/regular_file.h"

namespace quarnex {
namespace {

// Lowers the soft descriptor limit to the lowest free descriptor, so the
// next open fails with EMFILE; restores the limit when it goes.
class DescriptorLimit {
 public:
  DescriptorLimit() {
    ok_ = getrlimit(RLIMIT_NOFILE, &saved_) == 0;
    const int lowest_free = dup(0);
    if (lowest_free < 0) ok_ = false;
    if (!ok_) return;
    close(lowest_free);
    limit_ = static_cast<rlim_t>(lowest_free);
    struct rlimit lowered = saved_;
    lowered.rlim_cur = limit_;
    ok_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~DescriptorLimit() {
    if (ok_) setrlimit(RLIMIT_NOFILE, &saved_);
  }
  bool ok() const { return ok_; }
  rlim_t limit() const { return limit_; }

 private:
  bool ok_ = false;
  struct rlimit saved_ {};
  rlim_t limit_ = 0;
};

TEST(OpenErrorTest, RunningOutOfDescriptorsIsNamedWithTheLimit) {
  std::string reason;
  {
    DescriptorLimit limit;
    ASSERT_TRUE(limit.ok());
    const std::string expected = "too many open files (limit " +
                                 std::to_string(static_cast<unsigned long long>(limit.limit())) +
                                 ")";
    OpenedFile file;
    EXPECT_FALSE(OpenRegularFile("/proc/self/exe", UINT64_MAX, &file, &reason));
    EXPECT_EQ(reason, expected);
    EXPECT_EQ(OpenErrorText(EMFILE), expected);
    EXPECT_EQ(OpenErrorText(ENFILE), expected);
  }
  EXPECT_EQ(OpenErrorText(EACCES), "Permission denied");
}

}  // namespace
}  // namespace quarnex
