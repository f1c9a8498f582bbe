// For tests of what happens when the disk fills up in the middle of a
// record: a limit on the size of the files this process writes.
#ifndef QUARNEX_REPORT_FILE_SIZE_LIMIT_TEST_UTIL_H_
#define QUARNEX_REPORT_FILE_SIZE_LIMIT_TEST_UTIL_H_

#include <signal.h>
#include <sys/resource.h>

namespace quarnex {

// While it lives, no file of this process grows past `bytes`: a write that
// crosses the limit stores what fits and then fails with EFBIG (SIGXFSZ is
// ignored meanwhile), as on a disk that is full. Needs no privileges: only
// the soft limit is lowered, and raised back in the destructor. It holds for
// every thread, so only tests that write nothing else may use it.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    saved_action_ = signal(SIGXFSZ, SIG_IGN);
    ok_ = saved_action_ != SIG_ERR && setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    if (saved_action_ != SIG_ERR) signal(SIGXFSZ, saved_action_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // False when the limit could not be set; the test cannot go on then.
  bool ok() const { return ok_; }

 private:
  rlimit saved_ = {};
  sighandler_t saved_action_ = SIG_ERR;
  bool ok_ = false;
};

}  // namespace quarnex

#endif  // QUARNEX_REPORT_FILE_SIZE_LIMIT_TEST_UTIL_H_
