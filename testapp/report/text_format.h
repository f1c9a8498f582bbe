// Locale-independent text formatting for every text the tester shows or logs.
//
// The window toolkit sets the C library's locale from the environment, which
// would turn "%.1f" into "85,4" and day names into the user's language. The
// helpers here always format as the "C" locale does, whatever the process
// locale is, and name days and months in English.
//
// Thread-safety: every function is safe to call from any thread at once. The
// locale switch is per thread (uselocale), so a worker formatting a cell never
// disturbs another thread or the process locale.
#ifndef QUARNEX_REPORT_TEXT_FORMAT_H_
#define QUARNEX_REPORT_TEXT_FORMAT_H_

#include <ctime>
#include <string>

// MinGW's C++ library formats with its own C99 printf (%zu, %lld), not
// the Windows one that "printf" names there.
#if defined(_WIN32)
#define QUARNEX_PRINTF_FORMAT(format_index, first_arg) \
  __attribute__((format(gnu_printf, format_index, first_arg)))
#else
#define QUARNEX_PRINTF_FORMAT(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#endif

namespace quarnex {

// Returns the printf-style expansion of `format` in the "C" locale: "." as
// the decimal point, no grouping, and printf's own rounding of "%.1f". Any
// length is supported; a format error yields an empty string.
std::string FormatC(const char* format, ...) QUARNEX_PRINTF_FORMAT(1, 2);

// Appends the expansion of `format` to `*out` in the "C" locale.
void AppendFormatC(std::string* out, const char* format, ...) QUARNEX_PRINTF_FORMAT(2, 3);

// The log's timestamp of a broken-down time: "Tue Dec 08 22:13:04 2026\n".
// English three-letter weekday and month, the day zero-padded to two digits,
// 24-hour time, the year, and a line feed. A weekday or month out of range
// reads "???" rather than reading past the name tables.
std::string LogTimestamp(const std::tm& time);

// The log's timestamp of `now` in local time (localtime_r).
std::string LogTimestamp(std::time_t now);

}  // namespace quarnex

#endif  // QUARNEX_REPORT_TEXT_FORMAT_H_
