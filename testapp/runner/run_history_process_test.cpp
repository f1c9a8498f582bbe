// quarnex-run recording its runs with --db, as a station does, and listing
// them with --history: whole runs equal their summaries; a run killed with
// SIGKILL mid-run is listed unfinished, never half-written; signals and
// their bursts still record the run; a file locked by another process is
// named in the summary, and stations sharing a file all record theirs.
#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonArray>
#include <QJsonObject>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "testapp/platform/test_support.h"
#include "testapp/runner/station_test_util.h"
#include "testapp/station/history_lock_test_util.h"

namespace quarnex {
namespace {

using Args = std::vector<std::string>;

constexpr char kSim[] = "ports=1-3;fault.corrupt=0.1;fault.ports=2;seed=3";

// Runs quarnex-run to its end; returns its standard output.
std::string RunToEnd(const StationSandbox& box, const Args& args, const std::string& name) {
  StationRunner runner(box, args, kSim, name);
  EXPECT_TRUE(runner.Wait(kStationTimeoutS).has_value()) << name << " did not end";
  return runner.Out();
}

Args Recorded(const std::string& label, const Args& more = {}) {
  Args args = {"--ports", "1-3",      "--packet-size", "256",        "--duration", "1",  "--json",
               "--quiet", "--no-log", "--db",          "history.db", "--label",    label};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(RunHistoryProcessTest, FinishedRunsEqualTheirSummariesAndAKilledRunIsMarkedUnfinished) {
  StationSandbox box;
  std::vector<QJsonObject> summaries;
  summaries.push_back(SummaryOf(RunToEnd(box, Recorded("rack-a"), "first")));
  {
    // Killed after its first report reached the file: its row was begun
    // and its reports recorded, its outcome never.
    StationRunner killed(
        box,
        {"--ports", "1-3", "--packet-size", "256", "--duration", "60", "--interval", "0.5",
         "--json", "--no-log", "--db", "history.db", "--db-intervals", "--label", "rack-a"},
        kSim, "killed");
    ASSERT_TRUE(killed.WaitForOutput("\"seq\":2", kStationTimeoutS)) << killed.Err();
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(kStationTimeoutS), 128 + SIGKILL);
  }
  summaries.push_back(SummaryOf(RunToEnd(box, Recorded("rack-b", {"--db-intervals"}), "second")));

  const std::vector<QJsonObject> runs =
      JsonLines(RunToEnd(box, {"--history", "history.db", "--json"}, "history"));
  ASSERT_EQ(runs.size(), 3u);
  const QJsonObject& dead = runs[1];
  EXPECT_FALSE(dead["finished"].toBool());
  EXPECT_TRUE(dead["result"].isNull());
  EXPECT_TRUE(dead["stopped_at"].isNull());
  EXPECT_TRUE(dead["ports"].toArray().isEmpty());

  for (size_t i = 0; i < summaries.size(); ++i) {
    const QJsonObject& run = runs[i == 0 ? 0 : 2];
    const QJsonObject& summary = summaries[i];
    SCOPED_TRACE("run " + std::to_string(i));
    ASSERT_FALSE(summary.isEmpty());
    EXPECT_TRUE(run["finished"].toBool());
    EXPECT_EQ(run["result"], summary["result"]);
    EXPECT_EQ(run["end_reason"], summary["end_reason"]);
    EXPECT_EQ(run["started_at"], summary["started_at"]);
    EXPECT_EQ(run["settings"], summary["settings"]);
    EXPECT_EQ(run["label"].toString(), i == 0 ? "rack-a" : "rack-b");
    const QJsonArray ports = run["ports"].toArray();
    const QJsonArray expected = summary["ports"].toArray();
    ASSERT_EQ(ports.size(), expected.size());
    for (qsizetype p = 0; p < ports.size(); ++p) {
      const QJsonObject got = ports[p].toObject();
      const QJsonObject want = expected[p].toObject();
      for (const char* field :
           {"port", "opened", "open", "lost", "counters", "line_errors", "first_mismatch", "avg_ms",
            "throughput_pct", "status", "pass", "failures"}) {
        EXPECT_EQ(got[field], want[field]) << "port " << p << " " << field;
      }
    }
  }
  // The corrupting port failed, and the listing says which.
  EXPECT_EQ(summaries[0]["result"].toString(), "fail");

  const std::string table =
      RunToEnd(box, {"--history", "history.db", "--label", "rack-a"}, "table");
  EXPECT_NE(table.find("unfinished"), std::string::npos) << table;
  EXPECT_EQ(table.find("rack-b"), std::string::npos) << table;
  EXPECT_NE(table.find("fail"), std::string::npos) << table;
}

// How often `text` holds `what`.
int Occurrences(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// Polls `path` until it holds `what` `count` times; false after the
// station timeout.
bool WaitForOccurrences(const std::filesystem::path& path, const std::string& what, int count) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(kStationTimeoutS);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Occurrences(ReadWholeFile(path), what) >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

constexpr char kStopRecord[] = ">>> TEST STOP";

TEST(RunHistoryProcessTest, HangUpsAndBurstsOfSignalsEndTheRunWithEveryRecordWritten) {
  // A closed terminal or SSH session (SIGHUP), a supervisor that repeats
  // SIGTERM, and both: every try writes its stop record, its summary and
  // its history, whatever lands while they are written.
  const struct {
    const char* name;
    std::vector<int> sent;
  } kCases[] = {
      {"hang-up", {SIGHUP}},
      {"sigterm-burst", {SIGTERM, SIGTERM, SIGTERM, SIGTERM, SIGTERM, SIGTERM}},
      {"hang-up-then-sigterms", {SIGHUP, SIGTERM, SIGHUP, SIGTERM}},
  };
  constexpr int kTries = 3;
  StationSandbox box;
  int runs = 0;
  for (const auto& c : kCases) {
    for (int attempt = 0; attempt < kTries; ++attempt) {
      SCOPED_TRACE(std::string(c.name) + " try " + std::to_string(attempt));
      const std::string name = c.name + std::to_string(attempt);
      StationRunner runner(box,
                           {"--ports", "1-2", "--packet-size", "64", "--interval", "0.2", "--json",
                            "--db", "history.db", "--label", c.name},
                           "ports=1-2", name);
      ASSERT_TRUE(runner.WaitForOutput("\"type\":\"interval\"", kStationTimeoutS)) << runner.Err();
      for (int signo : c.sent) runner.Signal(signo);
      EXPECT_EQ(runner.Wait(kStationTimeoutS), 0) << runner.Err();
      ++runs;
      const QJsonObject summary = SummaryOf(runner.Out());
      EXPECT_EQ(summary["end_reason"].toString(), "signal") << runner.Out();
      EXPECT_TRUE(summary["history_error"].isNull()) << runner.Err();
      EXPECT_EQ(Occurrences(ReadWholeFile(box.dir() / "Quarnex.LOG"), kStopRecord), runs);
      EXPECT_EQ(runner.Err().find("second stop signal"), std::string::npos) << runner.Err();
    }
  }
  const std::vector<QJsonObject> listed =
      JsonLines(RunToEnd(box, {"--history", "history.db", "--json"}, "history"));
  ASSERT_EQ(static_cast<int>(listed.size()), runs);
  for (const QJsonObject& run : listed) {
    EXPECT_TRUE(run["finished"].toBool()) << run["label"].toString().toStdString();
    EXPECT_EQ(run["end_reason"].toString(), "signal");
    EXPECT_EQ(run["result"].toString(), "pass");
    EXPECT_EQ(run["ports"].toArray().size(), 2);
  }
}

TEST(RunHistoryProcessTest, AHistoryLockedByAnotherProcessIsNamedAndTheRunStillEnds) {
  StationSandbox box;
  const std::string first = RunToEnd(box, Recorded("rack-a"), "first");
  ASSERT_FALSE(SummaryOf(first).isEmpty()) << first;
  const std::filesystem::path log = box.dir() / "Quarnex.LOG";
  {
    WriterElsewhere other((box.dir() / "history.db").string());
    ASSERT_TRUE(other.locked());
    StationRunner runner(box,
                         {"--ports", "1-2", "--packet-size", "64", "--duration", "1", "--json",
                          "--db", "history.db", "--label", "rack-b"},
                         "ports=1-2", "locked");
    // The run ends by its duration with its stop record; a SIGTERM then
    // cuts the wait for the file short (without it the wait ends with the
    // busy time).
    ASSERT_TRUE(WaitForOccurrences(log, kStopRecord, 1)) << runner.Err();
    runner.Signal(SIGTERM);
    EXPECT_EQ(runner.Wait(kStationTimeoutS), 0) << runner.Err();
    const QJsonObject summary = SummaryOf(runner.Out());
    EXPECT_EQ(summary["end_reason"].toString(), "duration") << runner.Out();
    const std::string failure = summary["history_error"].toString().toStdString();
    EXPECT_NE(failure.find("cannot write the history history.db: database is locked"),
              std::string::npos)
        << runner.Out();
    EXPECT_NE(runner.Err().find("quarnex-run: " + failure + "\n"), std::string::npos)
        << runner.Err();
  }
  // The lock is gone: the file holds the first run only, whole.
  const std::vector<QJsonObject> listed =
      JsonLines(RunToEnd(box, {"--history", "history.db", "--json"}, "history"));
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]["label"].toString(), "rack-a");
  EXPECT_TRUE(listed[0]["finished"].toBool());
}

TEST(RunHistoryProcessTest, StationsStartingTogetherOnOneHistoryAllRecordTheirRuns) {
  // A new file each try, so that both also create its tables at once.
  constexpr int kTries = 3;
  StationSandbox box;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    SCOPED_TRACE("try " + std::to_string(attempt));
    const std::string file = "shared-" + std::to_string(attempt) + ".db";
    const Args args = {"--ports", "1-3",     "--packet-size", "256",  "--duration", "1",
                       "--json",  "--quiet", "--no-log",      "--db", file};
    {
      Args a = args, b = args;
      a.insert(a.end(), {"--label", "rack-a"});
      b.insert(b.end(), {"--label", "rack-b"});
      StationRunner one(box, a, "ports=1-3", "one" + std::to_string(attempt));
      StationRunner two(box, b, "ports=1-3", "two" + std::to_string(attempt));
      EXPECT_EQ(one.Wait(kStationTimeoutS), 0) << one.Err();
      EXPECT_EQ(two.Wait(kStationTimeoutS), 0) << two.Err();
      EXPECT_TRUE(SummaryOf(one.Out())["history_error"].isNull()) << one.Err();
      EXPECT_TRUE(SummaryOf(two.Out())["history_error"].isNull()) << two.Err();
    }
    const std::vector<QJsonObject> listed =
        JsonLines(RunToEnd(box, {"--history", file, "--json"}, "history"));
    ASSERT_EQ(listed.size(), 2u);
    for (const QJsonObject& run : listed) {
      EXPECT_TRUE(run["finished"].toBool());
      EXPECT_EQ(run["ports"].toArray().size(), 3);
    }
  }
}

}  // namespace
}  // namespace quarnex
