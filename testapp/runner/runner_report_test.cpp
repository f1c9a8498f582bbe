// Tests of what the runner makes of a run's figures: the verdict, the JSON
// lines, the text reports, and the cell store the engine writes into.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "testapp/engine/line_status.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/runner/text_report.h"
#include "testapp/station/cell_store.h"
#include "testapp/station/json_report.h"
#include "testapp/station/pass_fail.h"

namespace quarnex {
namespace {

constexpr double kNoBitRate = std::numeric_limits<double>::infinity();

PortSnapshot Port(int32_t number, int32_t packets, int32_t good, int32_t errors, double total_ms) {
  PortSnapshot p;
  p.Slot = number - 1;
  p.Row = number - 1;
  p.Opened = true;
  p.Counters.Open = true;
  p.Counters.PortNumber = number;
  p.Counters.PacketCount = packets;
  p.Counters.GoodPacketCount = good;
  p.Counters.ErrorCount = errors;
  p.Counters.TotalPacketTime = total_ms;
  p.LastPacketTime = good > 0 ? total_ms / good : 0;
  p.MaxPacketTime = p.LastPacketTime;
  p.Counters.LastStatus = good > 0 ? PacketStatus::kSuccess : PacketStatus::kDataMismatch;
  return p;
}

PortSnapshot NotOpened(int32_t number) {
  PortSnapshot p;
  p.Slot = number - 1;
  p.Row = number - 1;
  p.Counters.PortNumber = number;
  return p;
}

// Three ports at 10 ms per packet with an ideal time of 9 ms (90 %): one
// clean, one with 2 data mismatches, one that did not open.
RunSnapshot ThreePorts(double expected_ms = 9.0) {
  RunSnapshot run;
  run.ElapsedSeconds = 2.0;
  run.ExpectedPacketTime = expected_ms;
  run.Ports.push_back(Port(1, 100, 100, 0, 1000.0));
  PortSnapshot second = Port(2, 100, 98, 2, 980.0);
  second.Counters.DataMismatchCount = 2;
  second.Counters.LineErrorCount[kLineFraming] = 4;
  second.Counters.Mismatch = {MismatchKind::kData, 7, 20, {}};
  second.Counters.Mismatch.Excerpt.Offset = 12;
  second.Counters.Mismatch.Excerpt.ExpectedLength = 2;
  second.Counters.Mismatch.Excerpt.Expected = {0x4d, 0x4e};
  second.Counters.Mismatch.Excerpt.ReceivedLength = 2;
  second.Counters.Mismatch.Excerpt.Received = {0x4d, 0x0e};
  second.LastCommError = "Framing error, ";
  run.Ports.push_back(second);
  run.Ports.push_back(NotOpened(3));
  return run;
}

QJsonObject ParseLine(const std::string& line) {
  EXPECT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one object per line";
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n"
                                                   << line;
  return doc.object();
}

PortSnapshot Lost(PortSnapshot port) {
  port.Counters.Lost = true;
  return port;
}

PortSnapshot Stalled(PortSnapshot port, double ms) {
  port.Counters.Stalled = true;
  port.Counters.StalledMs = ms;
  return port;
}

TEST(PassFailTest, EachLimitDecidesAlone) {
  struct Case {
    const char* name;
    PortSnapshot port;
    double expected_ms;
    Limits limits;
    bool pass;
  };
  const Case cases[] = {
      {"clean port, no limits", Port(1, 10, 10, 0, 100.0), 9.0, {0, {}}, true},
      {"not opened", NotOpened(1), 9.0, {100, {}}, false},
      {"errors above the limit", Port(1, 10, 9, 1, 90.0), 9.0, {0, {}}, false},
      {"errors at the limit", Port(1, 10, 9, 1, 90.0), 9.0, {1, {}}, true},
      {"throughput above the limit", Port(1, 10, 10, 0, 100.0), 9.0, {0, 89.0}, true},
      {"throughput below the limit", Port(1, 10, 10, 0, 100.0), 9.0, {0, 91.0}, false},
      {"no bit rate with a throughput limit",
       Port(1, 10, 10, 0, 100.0),
       kNoBitRate,
       {0, 1.0},
       false},
      {"no good packet with a throughput limit", Port(1, 0, 0, 0, 0.0), 9.0, {0, 1.0}, false},
      {"no packet at all (a dead line)", Port(1, 0, 0, 0, 0.0), 9.0, {0, {}}, false},
      {"only errors, under the limit", Port(1, 5, 0, 5, 0.0), 9.0, {10, {}}, false},
      {"lost after good packets, errors under the limit",
       Lost(Port(1, 10, 9, 1, 90.0)),
       9.0,
       {10, {}},
       false},
      // A stall ended by no timeout leaves good packets and no error.
      {"stalled without an error",
       Stalled(Port(1, 10, 10, 0, 100.0), 2500.0),
       9.0,
       {10, {}},
       false},
  };
  for (const Case& c : cases) {
    RunSnapshot run;
    run.ExpectedPacketTime = c.expected_ms;
    run.Ports.push_back(c.port);
    const PortVerdict verdict = JudgePort(c.port, run, c.limits);
    EXPECT_EQ(verdict.pass, c.pass) << c.name;
    EXPECT_EQ(verdict.failures.empty(), c.pass) << c.name;
    EXPECT_EQ(ExitStatusFor(run, c.limits), c.pass ? kExitPass : kExitFail) << c.name;
  }
  const PortSnapshot stalled = Stalled(Port(1, 10, 10, 0, 100.0), 2500.0);
  RunSnapshot run;
  run.Ports.push_back(stalled);
  EXPECT_EQ(JudgePort(stalled, run, {10, {}}).failures, std::vector<std::string>{"stalled 2.5 s"});
}

TEST(RunFiguresTest, ThroughputCountsTheFilesPacketsAndNeedsABitRate) {
  EXPECT_DOUBLE_EQ(*ThroughputPct(10.0, 9.0, 1), 90.0);
  EXPECT_DOUBLE_EQ(*ThroughputPct(40.0, 9.0, 4), 90.0) << "a judged packet is the whole file";
  EXPECT_FALSE(ThroughputPct(10.0, kNoBitRate, 1));
  EXPECT_FALSE(ThroughputPct(10.0, 0.0, 1));
  EXPECT_FALSE(ThroughputPct(std::nullopt, 9.0, 1));
}

TEST(RunFiguresTest, IntervalIsTheDifferenceOfTwoSnapshots) {
  const PortSnapshot before = Port(1, 10, 8, 2, 80.0);
  const PortSnapshot now = Port(1, 30, 26, 4, 80.0 + 18 * 12.0);
  const PortInterval interval = IntervalOf(now.Counters, before.Counters, 2.0);
  EXPECT_EQ(interval.Packets, 20);
  EXPECT_EQ(interval.GoodPackets, 18);
  EXPECT_EQ(interval.Errors, 2);
  EXPECT_DOUBLE_EQ(interval.PacketsPerSecond, 10.0);
  EXPECT_DOUBLE_EQ(*interval.AverageMs, 12.0);
  EXPECT_FALSE(IntervalOf(before.Counters, before.Counters, 1.0).AverageMs)
      << "no good packet in the interval";
}

TEST(JsonReportTest, SummaryHoldsEveryCounterVerdictAndSetting) {
  RunOutcome outcome;
  outcome.figures = ThreePorts();
  outcome.figures.Ports[1].Counters.WriteFailedCount = 3;
  outcome.figures.Ports[1].Counters.WriteTimeoutCount = 2;
  outcome.figures.Ports[1].Counters.PacketCount = 5000000000;
  outcome.figures.Ports[0].Counters.Lost = true;
  outcome.log_error = "cannot write the log Quarnex.LOG: No space left on device";
  outcome.history_error = "cannot write the history runs.db: database is locked";
  outcome.end_reason = EndReason::kDuration;
  outcome.exit_status = kExitFail;
  outcome.messages = {"Failed to open \\\\.\\Quarnex03", "two\nlines \"quoted\""};
  outcome.run.mode = kReceiveOnly;
  outcome.run.port_index = 1;
  outcome.run.port_count = 3;
  outcome.run.packet_size = 1024;
  outcome.run.file = "cmp.bin";
  outcome.run.bit_rate = 9600;
  outcome.run.log_path.reset();

  const QJsonObject summary = ParseLine(JsonSummaryLine(outcome));
  EXPECT_EQ(summary["type"].toString(), "summary");
  EXPECT_EQ(summary["schema"].toInt(), kJsonSchemaVersion);
  EXPECT_EQ(summary["result"].toString(), "fail");
  EXPECT_EQ(summary["exit_status"].toInt(), kExitFail);
  EXPECT_EQ(summary["end_reason"].toString(), "duration");
  EXPECT_EQ(summary["messages"].toArray()[1].toString(), "two\nlines \"quoted\"");
  EXPECT_EQ(summary["log_error"].toString().toStdString(), *outcome.log_error);
  EXPECT_EQ(summary["history_error"].toString().toStdString(), *outcome.history_error);

  const QJsonObject settings = summary["settings"].toObject();
  EXPECT_EQ(settings["mode"].toString(), "receive");
  EXPECT_EQ(settings["file"].toString(), "cmp.bin");
  EXPECT_EQ(settings["bit_rate"].toInt(), 9600);
  EXPECT_TRUE(settings["log"].isNull());
  EXPECT_TRUE(settings["min_throughput_pct"].isNull());

  const QJsonArray ports = summary["ports"].toArray();
  ASSERT_EQ(ports.size(), 3);
  const QJsonObject second = ports[1].toObject();
  const QJsonObject counters = second["counters"].toObject();
  // Counters are whole 64-bit numbers, never wrapped.
  EXPECT_EQ(counters["packets"].toInteger(), 5000000000);
  EXPECT_EQ(counters["write_timeouts"].toInt(), 2);
  EXPECT_EQ(counters["read_timeouts"].toInt(-1), 0);
  EXPECT_EQ(counters["good_packets"].toInt(), 98);
  EXPECT_EQ(counters["errors"].toInt(), 2);
  EXPECT_EQ(counters["write_failed"].toInt(), 3);
  EXPECT_EQ(counters["data_mismatch"].toInt(), 2);
  for (const char* key : {"write_aborted", "read_failed", "read_aborted", "length_mismatch"}) {
    EXPECT_EQ(counters[key].toInt(-1), 0) << key;
  }
  EXPECT_DOUBLE_EQ(second["avg_ms"].toDouble(), 10.0);
  EXPECT_DOUBLE_EQ(second["throughput_pct"].toDouble(), 90.0);
  EXPECT_EQ(second["last_comm_error"].toString(), "Framing error, ");
  // Line errors by kind, and where the first bad packet differed.
  const QJsonObject line_errors = second["line_errors"].toObject();
  EXPECT_EQ(line_errors.size(), kLineErrorKindCount);
  EXPECT_EQ(line_errors["framing"].toInt(), 4);
  EXPECT_EQ(line_errors["receive_overflow"].toInt(-1), 0);
  const QJsonObject mismatch = second["first_mismatch"].toObject();
  EXPECT_EQ(mismatch["kind"].toString(), "data");
  EXPECT_EQ(mismatch["packet"].toInt(), 7);
  EXPECT_EQ(mismatch["offset"].toInt(), 20);
  EXPECT_EQ(mismatch["excerpt_offset"].toInt(), 12);
  EXPECT_EQ(mismatch["expected"].toString(), "4d 4e");
  EXPECT_EQ(mismatch["received"].toString(), "4d 0e");
  EXPECT_TRUE(ports[0].toObject()["first_mismatch"].isNull());
  EXPECT_FALSE(second["pass"].toBool());
  EXPECT_EQ(second["failures"].toArray()[0].toString(), "errors 2 above 0");

  const QJsonObject third = ports[2].toObject();
  EXPECT_FALSE(third["opened"].toBool());
  EXPECT_TRUE(third["avg_ms"].isNull());
  EXPECT_EQ(third["failures"].toArray()[0].toString(), "not opened");

  const QJsonObject totals = summary["totals"].toObject();
  EXPECT_EQ(totals["packets"].toInteger(), 5000000100);
  EXPECT_EQ(totals["ports_opened"].toInt(), 2);
  EXPECT_EQ(totals["ports_passed"].toInt(), 0);
  EXPECT_EQ(totals["ports_failed"].toInt(), 3);
  const QJsonObject first = ports[0].toObject();
  EXPECT_TRUE(first["lost"].toBool());
  EXPECT_FALSE(second["lost"].toBool());
  EXPECT_EQ(first["failures"].toArray()[0].toString(), "lost");
}

TEST(JsonReportTest, ThroughputIsNullWithoutABitRate) {
  RunOutcome outcome;
  outcome.figures = ThreePorts(kNoBitRate);
  const QJsonObject summary = ParseLine(JsonSummaryLine(outcome));
  EXPECT_TRUE(summary["expected_packet_time_ms"].isNull());
  ASSERT_TRUE(summary.contains("history_error"));
  EXPECT_TRUE(summary["history_error"].isNull());
  const QJsonObject first = summary["ports"].toArray()[0].toObject();
  EXPECT_TRUE(first["throughput_pct"].isNull());
  EXPECT_DOUBLE_EQ(first["avg_ms"].toDouble(), 10.0) << "the times stay";
}

TEST(JsonReportTest, IntervalCarriesTheIntervalAndTheTotals) {
  RunSnapshot before = ThreePorts();
  before.ElapsedSeconds = 1.0;
  before.Ports[0] = Port(1, 40, 40, 0, 400.0);
  const RunSnapshot now = ThreePorts();
  const QJsonObject line = ParseLine(JsonIntervalLine(now, before, 7));
  EXPECT_EQ(line["type"].toString(), "interval");
  EXPECT_EQ(line["seq"].toInt(), 7);
  EXPECT_DOUBLE_EQ(line["interval_s"].toDouble(), 1.0);
  const QJsonObject first = line["ports"].toArray()[0].toObject();
  EXPECT_EQ(first["counters"].toObject()["packets"].toInt(), 100);
  const QJsonObject interval = first["interval"].toObject();
  EXPECT_EQ(interval["packets"].toInt(), 60);
  EXPECT_DOUBLE_EQ(interval["packets_per_s"].toDouble(), 60.0);
  EXPECT_EQ(line["totals"].toObject()["interval_packets"].toInt(), 60);
}

TEST(JsonReportTest, QuotingEscapesControlCharacters) {
  EXPECT_EQ(JsonQuote("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
}

TEST(TextReportTest, IntervalLinesAreLabelledPerPortWithIntervalAndTotal) {
  RunSnapshot before = ThreePorts();
  before.ElapsedSeconds = 1.0;
  before.Ports[0] = Port(1, 40, 40, 0, 400.0);
  const std::string lines = IntervalLines(ThreePorts(), before);
  EXPECT_NE(lines.find("[    2.0 s] Quarnex01 interval: packets=60 good=60 errors=0 rate=60.0/s "
                       "avg_ms=10.000 | total: packets=100 good=100 errors=0 avg_ms=10.000"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("throughput=90.00%"), std::string::npos);
  EXPECT_NE(lines.find("last_comm_error=\"Framing error, \""), std::string::npos);
  EXPECT_EQ(lines.find("Quarnex03"), std::string::npos) << "a port that never opened has no line";
  EXPECT_NE(
      lines.find("Total interval: packets=60 errors=0 rate=60.0/s | total: packets=200 errors=2"),
      std::string::npos)
      << lines;
}

TEST(TextReportTest, LiveTableShowsTheWindowsColumnsWithinTheScreen) {
  RunSnapshot run = ThreePorts();
  run.Ports[1].Counters.LastStatus = PacketStatus::kDataMismatch;
  const std::string table = LiveTable(run, "head", 10, 200);
  EXPECT_NE(table.find("Time(ms) -- Avg Last Max (T.P.)"), std::string::npos);
  EXPECT_NE(table.find("10.0,  10.0,  10.0  (90.0%)"), std::string::npos) << table;
  EXPECT_NE(table.find("N.A."), std::string::npos) << "the last packet failed";
  EXPECT_NE(table.find("Framing error,"), std::string::npos);
  EXPECT_NE(table.find("Total"), std::string::npos);

  const std::string narrow = LiveTable(run, "head", 1, 30);
  size_t start = 0;
  int lines = 0;
  for (size_t end; (end = narrow.find('\n', start)) != std::string::npos;
       start = end + 1, ++lines) {
    EXPECT_LE(end - start, 30u);
  }
  EXPECT_EQ(lines, 5) << "headline, header, one port, the rest counted, total:\n" << narrow;
  EXPECT_NE(narrow.find("1 more ports"), std::string::npos) << narrow;
}

TEST(TextReportTest, SummaryNamesEveryPortsVerdictAndTheErrorCauses) {
  RunOutcome outcome;
  outcome.figures = ThreePorts();
  outcome.end_reason = EndReason::kSignal;
  outcome.exit_status = kExitFail;
  const std::string text = TextSummary(outcome);
  EXPECT_NE(text.find("stopped by a signal"), std::string::npos);
  EXPECT_NE(text.find("FAIL: errors 2 above 0"), std::string::npos) << text;
  EXPECT_NE(text.find("FAIL: not opened"), std::string::npos);
  EXPECT_NE(text.find("Quarnex02 errors by cause: write failed 0, write aborted 0, read failed 0, "
                      "read aborted 0, length mismatch 0, data mismatch 2"),
            std::string::npos);
  EXPECT_NE(text.find("Quarnex02 first mismatch: packet 7, byte 20\n"
                      "  expected from byte 12: 4d 4e\n"
                      "  received from byte 12: 4d 0e\n"
                      "Quarnex02 line errors: break 0, framing 4, overrun 0, receive overflow 0, "
                      "parity 0, transmit full 0\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("Quarnex01 line errors"), std::string::npos) << "a clean line says nothing";
  EXPECT_NE(text.find("Result: FAIL, 1 of 3 ports inside the limits"), std::string::npos);
}

TEST(CellStoreTest, RowsKeepTheirSlotAndLineErrorsFromEitherColumn) {
  CellStore store;
  EXPECT_EQ(store.InsertRow(0, "Quarnex01"), 0);
  EXPECT_EQ(store.InsertRow(2, "Quarnex03"), 1) << "the missing port 2 has no row";
  store.SetCell(1, kColumnTime, LineStatusText(kCeBreak | kCeOverrun));  // Receive only
  store.SetCell(1, kColumnTime, "N.A.");
  store.SetCell(1, kColumnTime, "10.0,  10.0,  10.0  (90.0%)");
  store.SetCell(0, kColumnLastCommError, "Parity error");
  store.SetCell(0, kColumnStatus, "Success");
  store.SetCell(5, kColumnStatus, "ignored");
  store.SetCell(0, 9, "ignored");

  const std::vector<CellStore::RowTexts> rows = store.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].last_comm_error, "Parity error");
  EXPECT_EQ(rows[0].cells[kColumnStatus], "Success");
  EXPECT_EQ(rows[1].last_comm_error, "Break detected, Overrun error, ");
  EXPECT_EQ(rows[1].cells[kColumnTime], "10.0,  10.0,  10.0  (90.0%)");
  // What a snapshot takes from the rows, by row.
  const std::vector<RowNotes> notes = store.Notes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].StatusText, "Success");
  EXPECT_EQ(notes[0].LastCommError, "Parity error");
  EXPECT_EQ(notes[1].StatusText, "");
  EXPECT_EQ(notes[1].LastCommError, "Break detected, Overrun error, ");

  store.DeleteAllRows();
  EXPECT_TRUE(store.Rows().empty());
}

TEST(CellStoreTest, WorkersWriteWhileTheReporterReads) {
  CellStore store;
  constexpr int kRows = 8;
  for (int i = 0; i < kRows; ++i) store.InsertRow(i, "Quarnex");
  std::vector<std::thread> workers;
  for (int i = 0; i < kRows; ++i) {
    workers.emplace_back([&store, i] {
      for (int n = 0; n < 2000; ++n) store.SetCell(i, kColumnStatus, std::to_string(n));
    });
  }
  for (int n = 0; n < 200; ++n) ASSERT_EQ(store.Rows().size(), static_cast<size_t>(kRows));
  for (std::thread& worker : workers) worker.join();
  for (const CellStore::RowTexts& row : store.Rows()) EXPECT_EQ(row.cells[kColumnStatus], "1999");
}

}  // namespace
}  // namespace quarnex
