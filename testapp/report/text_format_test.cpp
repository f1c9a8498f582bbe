#include "testapp/report/text_format.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "testapp/platform/posix_test_compat.h"
#include "testapp/report/row_text.h"

namespace quarnex {
namespace {

constexpr std::time_t kTue20261208At221304Utc = 1796767984;

// Whether a German locale could be made available to this process, and its
// name. Tried once: the installed ones first, then one compiled with
// localedef and reached through LOCPATH. The compiled one is kept in the
// temporary folder under a fixed name and reused by later runs; it is built
// aside and renamed into place, so test processes running at once never see
// a half-written one.
const char* GermanLocaleName() {
  static const std::string name = [] {
    const char* const kCandidates[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "de_DE@euro"};
    const std::string previous = setlocale(LC_ALL, nullptr);
    auto try_installed = [&]() -> std::string {
      for (const char* candidate : kCandidates) {
        if (setlocale(LC_ALL, candidate) != nullptr) {
          setlocale(LC_ALL, previous.c_str());
          return candidate;
        }
      }
      return std::string();
    };
    std::string found = try_installed();
    if (!found.empty()) return found;
#if defined(_WIN32)
    return std::string();  // no localedef
#endif
    const std::string cache = ::testing::TempDir() + "quarnex_test_locales";
    const std::string cached_locale = cache + "/de_DE.UTF-8/LC_NUMERIC";
    if (access(cached_locale.c_str(), R_OK) != 0) {
      std::string building = cache + "_XXXXXX";
      if (mkdtemp(building.data()) == nullptr) return std::string();
      const std::string command =
          "localedef -i de_DE -f UTF-8 '" + building + "/de_DE.UTF-8' >/dev/null 2>&1";
      const bool built = std::system(command.c_str()) == 0;
      if (!built || std::rename(building.c_str(), cache.c_str()) != 0) {
        std::system(("rm -rf '" + building + "'").c_str());
        if (!built) return std::string();
      }
    }
    setenv("LOCPATH", cache.c_str(), 1);
    return try_installed();
  }();
  return name.empty() ? nullptr : name.c_str();
}

// Runs a test under the German locale for every category, as the window
// toolkit does with the user's environment, and restores "C" afterwards.
class GermanLocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = GermanLocaleName();
    if (name == nullptr || setlocale(LC_ALL, name) == nullptr) {
      GTEST_SKIP() << "no German locale is installed and localedef could not build one";
    }
  }
  void TearDown() override { setlocale(LC_ALL, "C"); }
};

TEST(FormatCTest, RoundsOneDecimalLikePrintf) {
  // Exact binary values decide: 0.25 and 2.25 are true ties (to even), 0.35
  // lies just below its decimal, 0.45 and 2.35 just above.
  const struct {
    double value;
    const char* text;
  } kCases[] = {
      {0.25, "0.2"}, {0.35, "0.3"},     {0.45, "0.5"},   {2.25, "2.2"},
      {2.35, "2.4"}, {85.3833, "85.4"}, {-0.04, "-0.0"}, {1e12 + 0.06, "1000000000000.1"}};
  for (const auto& c : kCases) EXPECT_EQ(FormatC("%.1f", c.value), c.text) << c.value;
}

TEST(FormatCTest, FormatsTextsLongerThanTheStackBuffer) {
  const std::string long_text(1000, 'x');
  EXPECT_EQ(FormatC("<%s|%d>", long_text.c_str(), 42), "<" + long_text + "|42>");
  std::string appended = "head ";
  AppendFormatC(&appended, "%s", long_text.c_str());
  EXPECT_EQ(appended, "head " + long_text);
}

TEST(LogTimestampTest, EnglishNamesAndZeroPaddedDay) {
  std::tm t = {};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 8;
  t.tm_wday = 2;
  t.tm_hour = 22;
  t.tm_min = 13;
  t.tm_sec = 4;
  EXPECT_EQ(LogTimestamp(t), "Tue Dec 08 22:13:04 2026\n");

  t = {};
  t.tm_year = 2027 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 31;
  t.tm_wday = 0;
  t.tm_hour = 7;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(LogTimestamp(t), "Sun Jan 31 07:05:09 2027\n");

  // A broken-down time out of range never reads past the name tables.
  t.tm_wday = 7;
  t.tm_mon = -1;
  EXPECT_EQ(LogTimestamp(t), "??? ??? 31 07:05:09 2027\n");
}

TEST(LogTimestampTest, UsesLocalTime) {
  const std::string saved_tz = getenv("TZ") != nullptr ? getenv("TZ") : "";
  const bool had_tz = getenv("TZ") != nullptr;
  setenv("TZ", "UTC0", 1);
  tzset();
  EXPECT_EQ(LogTimestamp(kTue20261208At221304Utc), "Tue Dec 08 22:13:04 2026\n");
  // Two hours east of UTC the same instant is past midnight, the next day.
  setenv("TZ", "XXX-2", 1);
  tzset();
  EXPECT_EQ(LogTimestamp(kTue20261208At221304Utc), "Wed Dec 09 00:13:04 2026\n");
  if (had_tz) {
    setenv("TZ", saved_tz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST_F(GermanLocaleTest, NumbersKeepTheDecimalPoint) {
  char native[32];
  std::snprintf(native, sizeof(native), "%.1f", 85.4);
  ASSERT_STREQ(native, "85,4") << "the locale does not change the decimal point, nothing to show";

  EXPECT_EQ(FormatC("%.1f", 85.3833), "85.4");
  EXPECT_EQ(TimeCellText(1000.0, 990.0, 1010.0, 853.333, 1), "1000.0,  990.0,  1010.0  (85.4%)");
  // The thread's own locale is left as it was.
  std::snprintf(native, sizeof(native), "%.1f", 85.4);
  EXPECT_STREQ(native, "85,4");
}

TEST_F(GermanLocaleTest, TimestampStaysEnglish) {
  std::tm t = {};
  const std::time_t now = kTue20261208At221304Utc;
  gmtime_r(&now, &t);
  char native[64];
  strftime(native, sizeof(native), "%a %b", &t);
  ASSERT_STRNE(native, "Tue Dec") << "the locale names days in English, nothing to show";

  EXPECT_EQ(LogTimestamp(t), "Tue Dec 08 22:13:04 2026\n");
}

TEST(FormatCTest, ThreadsFormatAtOnceWhileTheProcessLocaleIsSet) {
  // Workers format cells while the main thread set the process locale; each
  // must see the same, point-separated text.
#if defined(_WIN32)
  // Each thread switches to a locale of its own for the call, and Wine's C
  // library lets threads that switch at once see one another's decimal
  // comma now and then. The Windows programs never set a locale.
  GTEST_SKIP() << "no per-thread locale that holds under concurrent switches on Windows";
#endif
  if (const char* name = GermanLocaleName()) setlocale(LC_ALL, name);
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([i, &wrong] {
      for (int r = 0; r < kRounds; ++r) {
        if (TimeCellText(1000.0, 990.0, 1010.0, 853.333, 1) != "1000.0,  990.0,  1010.0  (85.4%)") {
          ++wrong[i];
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  setlocale(LC_ALL, "C");
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(wrong[i], 0) << "thread " << i;
}

}  // namespace
}  // namespace quarnex
