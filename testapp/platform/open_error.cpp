#include "testapp/platform/open_error.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace quarnex {

bool IsTooManyOpenFiles(int error) { return error == EMFILE || error == ENFILE; }

std::string TooManyOpenFilesText() {
  std::string text = "too many open files";
#if !defined(_WIN32)
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    text +=
        limit.rlim_cur == RLIM_INFINITY
            ? std::string(" (limit unlimited)")
            : " (limit " + std::to_string(static_cast<unsigned long long>(limit.rlim_cur)) + ")";
  }
#endif
  return text;
}

std::string OpenErrorText(int error) {
  if (IsTooManyOpenFiles(error)) return TooManyOpenFilesText();
#if defined(__GLIBC__)
  if (const char* text = strerrordesc_np(error)) return text;
  return "error " + std::to_string(error);
#else
  return std::generic_category().message(error);
#endif
}

}  // namespace quarnex
