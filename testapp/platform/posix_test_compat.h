// The few POSIX calls the tests use to set up folders and the environment,
// for the Windows build: there the C library spells them differently or
// not at all. On POSIX systems this header only includes the usual ones.
//
// Tests only; any thread.
#ifndef QUARNEX_PLATFORM_POSIX_TEST_COMPAT_H_
#define QUARNEX_PLATFORM_POSIX_TEST_COMPAT_H_

#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>

#include <cstring>
#include <random>

// Replaces the trailing "XXXXXX" of `name` and makes that folder.
inline char* mkdtemp(char* name) {
  const size_t length = std::strlen(name);
  if (length < 6 || std::strcmp(name + length - 6, "XXXXXX") != 0) return nullptr;
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = length - 6; i < length; ++i)
      name[i] = kLetters[random() % (sizeof(kLetters) - 1)];
    if (_mkdir(name) == 0) return name;
  }
  return nullptr;
}

inline int mkdir(const char* path, int /*mode*/) { return _mkdir(path); }

// The C library reads TZ once; a test that changes it wants it read again.
inline int setenv(const char* name, const char* value, int /*overwrite*/) {
  const int result = _putenv_s(name, value);
  if (std::strcmp(name, "TZ") == 0) _tzset();
  return result;
}

inline int unsetenv(const char* name) {
  const int result = _putenv_s(name, "");
  if (std::strcmp(name, "TZ") == 0) _tzset();
  return result;
}

inline tm* gmtime_r(const time_t* t, tm* out) { return gmtime_s(out, t) == 0 ? out : nullptr; }
#else
#include <unistd.h>
#endif

#endif  // QUARNEX_PLATFORM_POSIX_TEST_COMPAT_H_
