#include "testapp/station/run_history.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/platform/test_support.h"
#include "testapp/station/history_lock_test_util.h"
#include "testapp/station/history_recorder.h"
#include "testapp/station/history_report.h"
#include "testapp/station/json_report.h"
#include "testapp/station/stop_request.h"

namespace quarnex {
namespace {

namespace fs = std::filesystem;

// A finished run of two ports: port 1 passed, port 2 failed with a data
// mismatch, line errors and a timeout.
RunOutcome TwoPortRun(const std::string& started_at) {
  RunOutcome o;
  o.run.mode = kLoopback;
  o.run.port_index = 1;
  o.run.port_count = 2;
  o.run.packet_size = 1024;
  o.run.bit_rate = 115200;
  o.run.started_at = started_at;
  o.run.interval_s = 1.0;
  o.end_reason = EndReason::kDuration;
  o.exit_status = kExitFail;
  RunSnapshot& f = o.figures;
  f.ElapsedSeconds = 60.25;
  f.ExpectedPacketTime = 71.11;
  f.Ports.resize(2);
  for (int i = 0; i < 2; ++i) {
    PortSnapshot& p = f.Ports[static_cast<size_t>(i)];
    p.Slot = i;
    p.Row = i;
    p.Opened = p.Counters.Open = true;
    p.Counters.LastStatus = PacketStatus::kSuccess;
    p.Counters.PortNumber = i + 1;
    p.Counters.PacketCount = 840 + i;
    p.Counters.GoodPacketCount = 840 - 3 * i;
    p.Counters.TotalPacketTime = 71.5 * (840 - 3 * i);
    p.LastPacketTime = 71.4;
    p.MaxPacketTime = 72.9;
  }
  PortSnapshot& bad = f.Ports[1];
  bad.Counters.ErrorCount = 3;
  bad.Counters.DataMismatchCount = 2;
  bad.Counters.ReadFailedCount = 1;
  bad.Counters.ReadTimeoutCount = 1;
  bad.Counters.LineErrorCount = {0, 4, 0, 0, 1, 0};
  bad.Counters.Mismatch.Kind = MismatchKind::kData;
  bad.Counters.Mismatch.Packet = 17;
  bad.Counters.Mismatch.Offset = 903;
  bad.Counters.LastStatus = PacketStatus::kDataMismatch;
  bad.LastCommError = "Framing error";
  return o;
}

// A history file of its own in TMPDIR.
class RunHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.made());
    path_ = (dir_.path() / "history.db").string();
  }

  std::unique_ptr<RunHistory> OpenHistory() {
    std::string error;
    auto history = RunHistory::Open(path_, true, &error);
    EXPECT_NE(history, nullptr) << error;
    return history;
  }

  std::vector<HistoryRun> Runs(RunHistory& history, const HistoryFilter& filter = {}) {
    std::vector<HistoryRun> runs;
    std::string error;
    EXPECT_TRUE(history.Query(filter, &runs, &error)) << error;
    return runs;
  }

  // One value of the file, through SQLite itself.
  long long SqlValue(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    long long value = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      value = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
  }

  TempFolder dir_{"run-history-"};
  std::string path_;
};

TEST_F(RunHistoryTest, AFinishedRunReadsBackAsItWasWritten) {
  const RunOutcome outcome = TwoPortRun("2026-01-31T12:00:00Z");
  HistoryRun written = HistoryRunOf(outcome, "rack-a", 1769861100);
  {
    auto history = OpenHistory();
    std::string error;
    written.id = history->BeginRun(HistoryRunStarted(outcome.run, "rack-a"), &error);
    ASSERT_GT(written.id, 0) << error;
    ASSERT_TRUE(history->FinishRun(written, &error)) << error;
  }
  // A new process opening the file finds it whole.
  auto history = OpenHistory();
  const std::vector<HistoryRun> runs = Runs(*history);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(HistoryJsonLines(runs), HistoryJsonLines({written}));
  // The rows hold the summary's own figures.
  const HistoryRun& run = runs[0];
  EXPECT_EQ(run.stopped_at, "2026-01-31T12:05:00Z");
  EXPECT_EQ(run.result, "fail");
  EXPECT_EQ(run.settings, JsonSettingsObject(outcome.run));
  ASSERT_EQ(run.ports.size(), 2u);
  const HistoryPort& bad = run.ports[1];
  EXPECT_EQ(bad.packets, 841);
  EXPECT_EQ(bad.errors, 3);
  EXPECT_EQ(bad.data_mismatch, 2);
  EXPECT_EQ(bad.read_timeouts, 1);
  EXPECT_EQ(bad.line_errors[kLineFraming], 4);
  EXPECT_FALSE(bad.pass);
  EXPECT_EQ(bad.failures, "[\"errors 3 above 0\"]");
  EXPECT_EQ(bad.first_mismatch, JsonFirstMismatch(outcome.figures.Ports[1].Counters.Mismatch));
  EXPECT_DOUBLE_EQ(*bad.avg_ms, 71.5);
  EXPECT_DOUBLE_EQ(*bad.throughput_pct, 71.11 / 71.5 * 100.0);
  EXPECT_TRUE(run.ports[0].pass);
  EXPECT_FALSE(run.ports[0].first_mismatch.has_value());
  EXPECT_EQ(*run.ports_passed, 1);
  EXPECT_EQ(*run.ports_failed, 1);
}

TEST_F(RunHistoryTest, ARunThatNeverFinishedStaysMarkedAndAFailedFinishLeavesNoPorts) {
  auto history = OpenHistory();
  std::string error;
  const RunOutcome outcome = TwoPortRun("2026-02-01T08:00:00Z");
  // Begun and never finished: the process died.
  const int64_t died = history->BeginRun(HistoryRunStarted(outcome.run, "rack-a"), &error);
  // Begun, then a finish whose second port cannot be written (the same
  // port twice): the whole finish goes, not half of it.
  HistoryRun broken = HistoryRunOf(outcome, "rack-a", 1769932800);
  broken.id = history->BeginRun(HistoryRunStarted(outcome.run, "rack-a"), &error);
  broken.ports[1].port = broken.ports[0].port;
  EXPECT_FALSE(history->FinishRun(broken, &error));
  EXPECT_NE(error.find(path_), std::string::npos) << error;
  // A run that never started goes in whole, with no row begun.
  RunOutcome not_started = TwoPortRun("2026-02-01T09:00:00Z");
  not_started.end_reason = EndReason::kNotStarted;
  not_started.exit_status = kExitNoPorts;
  ASSERT_TRUE(history->FinishRun(HistoryRunOf(not_started, "rack-a", 1769936400), &error)) << error;

  const std::vector<HistoryRun> runs = Runs(*history);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].id, died);
  for (const HistoryRun* unfinished : {&runs[0], &runs[1]}) {
    EXPECT_FALSE(unfinished->finished);
    EXPECT_FALSE(unfinished->result.has_value());
    EXPECT_FALSE(unfinished->stopped_at.has_value());
    EXPECT_TRUE(unfinished->ports.empty());
  }
  EXPECT_TRUE(runs[2].finished);
  EXPECT_EQ(runs[2].result, "not_started");
  EXPECT_EQ(runs[2].ports.size(), 2u);
  EXPECT_EQ(SqlValue("SELECT count(*) FROM ports"), 2);

  const std::string table = HistoryTable(runs);
  EXPECT_NE(table.find("unfinished"), std::string::npos) << table;
  EXPECT_NE(table.find("not_started"), std::string::npos) << table;
}

TEST_F(RunHistoryTest, TheListingPicksRunsByStationAndStart) {
  auto history = OpenHistory();
  std::string error;
  const std::pair<const char*, const char*> recorded[] = {
      {"rack-a", "2026-01-30T23:59:59Z"},
      {"rack-b", "2026-01-31T00:00:00Z"},
      {"rack-a", "2026-01-31T10:00:00Z"},
  };
  for (const auto& [label, started] : recorded) {
    ASSERT_TRUE(history->FinishRun(HistoryRunOf(TwoPortRun(started), label, 1769900000), &error))
        << error;
  }
  struct Case {
    std::optional<std::string> label;
    std::optional<std::string> since;
    std::vector<std::string> starts;
  };
  const Case cases[] = {
      {std::nullopt,
       std::nullopt,
       {"2026-01-30T23:59:59Z", "2026-01-31T00:00:00Z", "2026-01-31T10:00:00Z"}},
      {"rack-a", std::nullopt, {"2026-01-30T23:59:59Z", "2026-01-31T10:00:00Z"}},
      {std::nullopt, "2026-01-31T00:00:00Z", {"2026-01-31T00:00:00Z", "2026-01-31T10:00:00Z"}},
      {"rack-a", "2026-01-31T00:00:00Z", {"2026-01-31T10:00:00Z"}},
      {"rack-c", std::nullopt, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> starts;
    for (const HistoryRun& run : Runs(*history, {c.label, c.since}))
      starts.push_back(run.started_at);
    EXPECT_EQ(starts, c.starts) << c.label.value_or("-") << " " << c.since.value_or("-");
  }
}

TEST_F(RunHistoryTest, IntervalsHoldEachPortsCountersAndWhatItDidSinceTheLastReport) {
  auto history = OpenHistory();
  std::string error;
  const RunOutcome outcome = TwoPortRun("2026-01-31T12:00:00Z");
  const int64_t id = history->BeginRun(HistoryRunStarted(outcome.run, "rack-a"), &error);
  RunSnapshot before = outcome.figures;
  before.ElapsedSeconds = 59.25;
  before.Ports[0].Counters.PacketCount = 826;
  before.Ports[0].Counters.GoodPacketCount = 826;
  before.Ports[0].Counters.TotalPacketTime = 71.5 * 826;
  ASSERT_TRUE(history->RecordInterval(id, 60, outcome.figures, before, &error)) << error;
  EXPECT_EQ(SqlValue("SELECT count(*) FROM intervals WHERE run_id = " + std::to_string(id)), 2);
  EXPECT_EQ(SqlValue("SELECT interval_packets FROM intervals WHERE port = 1 AND seq = 60"), 14);
  EXPECT_EQ(SqlValue("SELECT packets FROM intervals WHERE port = 1 AND seq = 60"), 840);
  EXPECT_EQ(SqlValue("SELECT interval_packets FROM intervals WHERE port = 2"), 0);
  EXPECT_EQ(SqlValue("SELECT CAST(round(throughput_pct * 100) AS INTEGER) FROM intervals "
                     "WHERE port = 1"),
            9945);  // 71.11 / 71.5
  // The same report twice is refused, not doubled.
  EXPECT_FALSE(history->RecordInterval(id, 60, outcome.figures, before, &error));
  EXPECT_EQ(SqlValue("SELECT count(*) FROM intervals"), 2);
}

TEST_F(RunHistoryTest, AFileThatIsNoHistoryIsRefusedAndListingNeverCreatesOne) {
  std::string error;
  EXPECT_EQ(RunHistory::Open(path_, /*create=*/false, &error), nullptr);
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_NE(error.find(path_), std::string::npos) << error;

  std::ofstream(path_) << "Quarnex.LOG is not a database\n";
  EXPECT_EQ(RunHistory::Open(path_, true, &error), nullptr);
  EXPECT_NE(error.find(path_), std::string::npos) << error;

  fs::remove(path_);
  {
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  EXPECT_EQ(RunHistory::Open(path_, true, &error), nullptr);
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

TEST_F(RunHistoryTest, ALockedFileNeverHoldsUpTheRunAndItsFailureIsNamed) {
  OpenHistory();  // the tables exist, as on a station that ran before
  const RunOutcome outcome = TwoPortRun("2026-01-31T12:00:00Z");
  const auto context = std::make_unique<RunContext>();
  const CellStore view;
  WriterElsewhere other(path_);
  ASSERT_TRUE(other.locked());

  // A history with its tables opens without writing, so another station's
  // transaction does not hold up the start.
  auto history = OpenHistory();
  ASSERT_NE(history, nullptr);
  StopRequest stop;
  std::optional<std::string> failure;
  {
    HistoryRecorder recorder(*history, "rack-a", true);
    // Each call only queues its write; the writer thread waits for the
    // file.
    recorder.RunStarted(*context, outcome.run, 1769861100, view);
    recorder.RunInterval(outcome.figures, outcome.figures);
    recorder.RunEnded(outcome);
    // A further SIGTERM while RunRecorded waits cuts the wait short.
    std::thread second_signal([&stop] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      stop.Request();
    });
    failure = recorder.RunRecorded(stop);
    second_signal.join();
  }
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->find("cannot write the history " + path_), std::string::npos) << *failure;
  EXPECT_NE(failure->find("locked"), std::string::npos) << *failure;
  other.Release();
  EXPECT_TRUE(Runs(*history).empty());
}

TEST_F(RunHistoryTest, AWriteWaitsForAnotherStationsTransactionToEnd) {
  OpenHistory();
  const RunOutcome outcome = TwoPortRun("2026-01-31T12:00:00Z");
  const auto context = std::make_unique<RunContext>();
  const CellStore view;
  WriterElsewhere other(path_);
  ASSERT_TRUE(other.locked());
  auto history = OpenHistory();
  ASSERT_NE(history, nullptr);
  StopRequest stop;
  HistoryRecorder recorder(*history, "rack-a", false);
  recorder.RunStarted(*context, outcome.run, 1769861100, view);
  recorder.RunEnded(outcome);
  // The other station commits well inside the busy time.
  std::thread commit([&other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    other.Release();
  });
  const std::optional<std::string> failure = recorder.RunRecorded(stop);
  commit.join();
  EXPECT_FALSE(failure.has_value()) << *failure;
  const std::vector<HistoryRun> runs = Runs(*history);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].finished);
  EXPECT_EQ(runs[0].ports.size(), 2u);
}

}  // namespace
}  // namespace quarnex
