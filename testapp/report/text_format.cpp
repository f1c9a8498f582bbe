#include "testapp/report/text_format.h"

#include <locale.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace quarnex {
namespace {

// A stack buffer large enough for every cell, status and log line, so the
// common case formats without a heap allocation beyond the result string.
constexpr size_t kStackBufferSize = 256;

constexpr const char* kWeekdayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char kUnknownName[] = "???";
constexpr long long kTmYearBase = 1900;

#if defined(_WIN32)
// Windows has no uselocale: the calling thread gets a locale of its own
// for the call and numbers in "C" within it; the thread's mode and
// locale are restored afterwards. Only a thread whose locale is not "C"
// pays for the switch.
class ScopedCLocale {
 public:
  ScopedCLocale() {
    const char* now = setlocale(LC_NUMERIC, nullptr);
    if (now == nullptr || std::strcmp(now, "C") == 0) return;
    previous_mode_ = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
    switched_ = true;
    previous_ = setlocale(LC_NUMERIC, nullptr);
    setlocale(LC_NUMERIC, "C");
  }
  ~ScopedCLocale() {
    if (!switched_) return;
    setlocale(LC_NUMERIC, previous_.c_str());
    _configthreadlocale(previous_mode_);
  }
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

 private:
  bool switched_ = false;
  int previous_mode_ = 0;
  std::string previous_;
};
#else
// The "C" locale object, created once and never freed: every thread shares
// it and it must outlive any thread that may still be formatting.
locale_t CLocale() {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c_locale;
}

// Switches the calling thread to the "C" locale for its lifetime and
// restores the thread's previous locale afterwards. If the "C" locale object
// could not be made, formatting falls back to the thread's current locale.
class ScopedCLocale {
 public:
  ScopedCLocale() {
    const locale_t c_locale = CLocale();
    if (c_locale != static_cast<locale_t>(0)) previous_ = uselocale(c_locale);
  }
  ~ScopedCLocale() {
    if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
  }
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(0);
};
#endif

void AppendFormatV(std::string* out, const char* format, va_list args) {
  ScopedCLocale c_locale;
  char buffer[kStackBufferSize];
  va_list retry_args;
  va_copy(retry_args, args);
  const int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
  if (length < 0) {
    va_end(retry_args);
    return;
  }
  if (static_cast<size_t>(length) < sizeof(buffer)) {
    out->append(buffer, static_cast<size_t>(length));
  } else {
    const size_t old_size = out->size();
    out->resize(old_size + static_cast<size_t>(length) + 1);
    std::vsnprintf(out->data() + old_size, static_cast<size_t>(length) + 1, format, retry_args);
    out->resize(old_size + static_cast<size_t>(length));
  }
  va_end(retry_args);
}

}  // namespace

std::string FormatC(const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  AppendFormatV(&text, format, args);
  va_end(args);
  return text;
}

void AppendFormatC(std::string* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(out, format, args);
  va_end(args);
}

std::string LogTimestamp(const std::tm& time) {
  const bool weekday_known = time.tm_wday >= 0 && time.tm_wday < 7;
  const bool month_known = time.tm_mon >= 0 && time.tm_mon < 12;
  return FormatC("%s %s %02d %02d:%02d:%02d %lld\n",
                 weekday_known ? kWeekdayNames[time.tm_wday] : kUnknownName,
                 month_known ? kMonthNames[time.tm_mon] : kUnknownName, time.tm_mday, time.tm_hour,
                 time.tm_min, time.tm_sec, static_cast<long long>(time.tm_year) + kTmYearBase);
}

std::string LogTimestamp(std::time_t now) {
  std::tm local = {};
#if defined(_WIN32)
  if (localtime_s(&local, &now) != 0) return LogTimestamp(std::tm{});
#else
  if (localtime_r(&now, &local) == nullptr) return LogTimestamp(std::tm{});
#endif
  return LogTimestamp(local);
}

}  // namespace quarnex
