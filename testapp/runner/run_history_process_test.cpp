// quarnex-run recording its runs with --db, as a station does, and listing
// them with --history: whole runs equal their summaries; a run killed with
// SIGKILL mid-run is listed unfinished, never half-written.
#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonArray>
#include <QJsonObject>
#include <string>
#include <vector>

#include "testapp/runner/station_test_util.h"

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

}  // namespace
}  // namespace quarnex
