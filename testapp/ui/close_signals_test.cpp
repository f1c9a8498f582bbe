// CloseSignals: each close signal reaches the callback on the event loop's
// thread, whichever thread took it; a second signal ends the process at
// once; the signals' earlier handling comes back afterwards.
#include "testapp/ui/close_signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace quarnex {
namespace {

// Long enough for a sanitizer build; only a lost signal reaches it.
constexpr int kWaitMs = 20000;

std::atomic<int> g_hups_recorded{0};
void RecordHup(int) { g_hups_recorded.fetch_add(1); }

class CloseSignalsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "close_signals_test";
    static char* argv[] = {name, nullptr};
    app_ = new QCoreApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }

  // Runs the event loop until `done` holds; false if it never does.
  static bool ProcessEventsUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(kWaitMs);
    while (!done()) {
      if (deadline.hasExpired()) return false;
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  static QCoreApplication* app_;
};

QCoreApplication* CloseSignalsTest::app_ = nullptr;

using CloseSignalsDeathTest = CloseSignalsTest;

TEST_F(CloseSignalsTest, EachSignalReachesTheCallbackOnTheLoopsThread) {
  const struct {
    int signo;
    bool from_worker;  // raised on another thread, which then runs the handler
  } kCases[] = {
      {SIGTERM, false}, {SIGINT, false}, {SIGHUP, false}, {SIGTERM, true}, {SIGHUP, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << "signal " << c.signo << (c.from_worker ? " on a worker" : ""));
    std::vector<int> seen;
    std::thread::id ran_on;
    CloseSignals closer([&](int signo) {
      seen.push_back(signo);
      ran_on = std::this_thread::get_id();
    });
    ASSERT_TRUE(closer.ok());
    if (c.from_worker) {
      std::thread([&c] { raise(c.signo); }).join();
    } else {
      raise(c.signo);
    }
    // The handler itself calls nothing: the callback waits for the loop.
    EXPECT_TRUE(seen.empty());
    ASSERT_TRUE(ProcessEventsUntil([&seen] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<int>{c.signo});
    EXPECT_EQ(ran_on, std::this_thread::get_id());
  }
}

TEST_F(CloseSignalsTest, TheEarlierHandlingComesBack) {
  struct sigaction record = {};
  record.sa_handler = RecordHup;
  sigemptyset(&record.sa_mask);
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction saved_hup = {}, saved_int = {};
  ASSERT_EQ(sigaction(SIGHUP, &record, &saved_hup), 0);
  ASSERT_EQ(sigaction(SIGINT, &ignore, &saved_int), 0);
  {
    CloseSignals closer([](int) {});
    ASSERT_TRUE(closer.ok());
    struct sigaction now = {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_NE(now.sa_handler, RecordHup);
  }
  struct sigaction hup = {}, sigint = {};
  sigaction(SIGHUP, nullptr, &hup);
  sigaction(SIGINT, nullptr, &sigint);
  EXPECT_EQ(hup.sa_handler, RecordHup);
  EXPECT_EQ(sigint.sa_handler, SIG_IGN);
  raise(SIGHUP);
  EXPECT_TRUE(ProcessEventsUntil([] { return g_hups_recorded.load() == 1; }));
  sigaction(SIGHUP, &saved_hup, nullptr);
  sigaction(SIGINT, &saved_int, nullptr);
}

TEST_F(CloseSignalsDeathTest, ASecondSignalEndsTheProcessAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    int first, second;
  } kCases[] = {{SIGTERM, SIGINT}, {SIGINT, SIGTERM}, {SIGHUP, SIGHUP}};
  for (const auto& c : kCases) {
    EXPECT_EXIT(
        {
          // The callback stands for a close that is still joining the
          // workers when the second signal comes.
          CloseSignals closer([&c](int) {
            raise(c.second);
            std::_Exit(0);  // not reached: the handler ends the process
          });
          raise(c.first);
          ProcessEventsUntil([] { return false; });
          std::_Exit(1);
        },
        ::testing::ExitedWithCode(128 + c.second), "second signal, exiting at once")
        << c.first << " then " << c.second;
  }
}

}  // namespace
}  // namespace quarnex
