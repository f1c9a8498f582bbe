// Helpers the tests of every layer share: waiting for what other threads
// do, and folders of their own under the temporary directory (TMPDIR, which
// the test script points into the build; TMP or TEMP on Windows).
//
// Tests only. Each object belongs to the thread that made it; Eventually
// may run on any thread.
#ifndef QUARNEX_PLATFORM_TEST_SUPPORT_H_
#define QUARNEX_PLATFORM_TEST_SUPPORT_H_

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "testapp/platform/posix_test_compat.h"

namespace quarnex {

// How long a test waits for other threads unless it says otherwise:
// generous, since sanitizer builds run several times slower.
inline constexpr std::chrono::milliseconds kTestPatience = std::chrono::seconds(20);

// Calls `done` every `period` until it returns true, or until `patience`
// has passed. True when `done` did.
template <typename Pred>
bool Eventually(Pred done, std::chrono::milliseconds patience = kTestPatience,
                std::chrono::milliseconds period = std::chrono::milliseconds(2)) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(period);
  }
  return true;
}

// A new, empty folder "<temporary directory>/<stem>XXXXXX" (the X's made
// unique), removed with everything in it when the object dies.
class TempFolder {
 public:
  explicit TempFolder(std::string_view stem) {
    std::error_code error;
    std::string name = (std::filesystem::temp_directory_path(error) / stem).string() + "XXXXXX";
    if (!error && mkdtemp(name.data()) != nullptr) path_ = name;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // False when the folder could not be made; path() is empty then.
  bool made() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A TempFolder that is the current directory while the object lives, for
// code that names its files relative to it (the configuration file, the
// log, dump files). The directory that was current before is current again
// before the folder is removed.
class TempWorkFolder {
 public:
  explicit TempWorkFolder(std::string_view stem) : folder_(stem) {
    std::error_code error;
    previous_ = std::filesystem::current_path(error);
    if (error || !folder_.made()) return;
    std::filesystem::current_path(folder_.path(), error);
    entered_ = !error;
  }
  ~TempWorkFolder() {
    std::error_code ignored;
    if (entered_) std::filesystem::current_path(previous_, ignored);
  }
  TempWorkFolder(const TempWorkFolder&) = delete;
  TempWorkFolder& operator=(const TempWorkFolder&) = delete;

  // False when the folder could not be made or entered.
  bool entered() const { return entered_; }
  const std::filesystem::path& path() const { return folder_.path(); }

 private:
  TempFolder folder_;
  std::filesystem::path previous_;
  bool entered_ = false;
};

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_TEST_SUPPORT_H_
