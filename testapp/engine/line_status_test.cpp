#include "testapp/engine/line_status.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "testapp/driver/recording_device.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

TEST(LineStatusTextTest, ConcatenatesTheSetFlagsInTableOrder) {
  struct Case {
    uint32_t mask;
    std::string text;
  };
  const Case cases[] = {
      {kCeBreak | kCeOverrun, "Break detected, Overrun error, "},
      {kCeRxParity | kCeTxFull, "Parity errorTx buffer full"},
      {kCeTxFull | kCeRxOver | kCeFrame, "Framing error, Receive buffer overflow, Tx buffer full"},
      {kCeBreak | kCeFrame | kCeOverrun | kCeRxOver | kCeRxParity | kCeTxFull,
       "Break detected, Framing error, Overrun error, Receive buffer overflow, Parity errorTx "
       "buffer full"},
      {kCeMode, ""},
      {0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    EXPECT_EQ(LineStatusText(c.mask), c.text);
  }
  EXPECT_EQ(LineStatusText(0xFFFFFFFFu).size(), 97u);
}

class ReportLineStatusTest : public ::testing::Test {
 protected:
  // The test's own run context, on the heap (RunState holds 128 slots).
  // Declared first, so it is destroyed after everything its runs used.
  std::unique_ptr<RunContext> owned_context_ = std::make_unique<RunContext>();
  RunContext& context_ = *owned_context_;

  void SetUp() override {
    context_.settings.Test = TestSettings{};
    view_.InsertRow(0, "Quarnex01");
    view_.InsertRow(1, "Quarnex02");
    context_.SetOutputs(&view_, &view_);
  }
  RecordingView view_;
  RecordingDevice device_;
};

TEST_F(ReportLineStatusTest, WritesTheTimeColumnInReceiveOnlyAndTheErrorColumnOtherwise) {
  struct Case {
    int32_t mode;
    int column;
  };
  const Case cases[] = {{kReceiveOnly, kColumnTime},
                        {kLoopback, kColumnLastCommError},
                        {kTransmitOnly, kColumnLastCommError}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    RecordingView view;
    view.InsertRow(0, "Quarnex01");
    view.InsertRow(1, "Quarnex02");
    context_.SetOutputs(&view, &view);
    context_.settings.Test.Mode = c.mode;
    device_.SetCommErrors(kCeFrame);

    ReportLineStatus(context_, &device_, 1);

    for (int column = kColumnPackets; column <= kColumnLastCommError; ++column) {
      EXPECT_EQ(view.Cell(1, column), column == c.column ? "Framing error, " : "") << column;
    }
    EXPECT_EQ(view.Cell(0, c.column), "");
  }
  context_.SetOutputs(&view_, &view_);
}

TEST_F(ReportLineStatusTest, NothingToShowLeavesTheRowAlone) {
  view_.SetCell(0, kColumnLastCommError, "Overrun error, ");
  struct Case {
    const char* name;
    uint32_t mask;
    bool query_ok;
  };
  const Case cases[] = {
      {"no errors", 0, true},
      {"only flags outside the table", kCeMode, true},
      {"failed query", kCeBreak, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_.SetCommErrors(c.mask, c.query_ok);
    ReportLineStatus(context_, &device_, 0);
    EXPECT_EQ(view_.CellHistory(0, kColumnLastCommError).size(), 1u);
  }
  ReportLineStatus(context_, nullptr, 0);
  EXPECT_EQ(view_.Cell(0, kColumnLastCommError), "Overrun error, ");
}

TEST_F(ReportLineStatusTest, CountsEachReportedKindOncePerQuery) {
  std::array<std::atomic<int64_t>, kLineErrorKindCount> counts{};
  struct Query {
    uint32_t mask;
    bool query_ok;
  };
  // Break twice, framing and parity once each; flags outside the table, a
  // failed query and a query the last one cleared count nothing.
  const Query queries[] = {
      {kCeBreak | kCeFrame, true},
      {kCeBreak | kCeRxParity | kCeMode, true},
      {kCeMode, true},
      {kCeTxFull, false},
      {0, true},
  };
  for (const Query& q : queries) {
    device_.SetCommErrors(q.mask, q.query_ok);
    ReportLineStatus(context_, &device_, 0, &counts);
  }
  ReportLineStatus(context_, &device_, 0, &counts);
  ReportLineStatus(context_, nullptr, 0, &counts);
  std::array<int64_t, kLineErrorKindCount> seen{};
  for (size_t kind = 0; kind < counts.size(); ++kind) seen[kind] = counts[kind].load();
  std::array<int64_t, kLineErrorKindCount> expected{};
  expected[kLineBreak] = 2;
  expected[kLineFraming] = 1;
  expected[kLineParity] = 1;
  EXPECT_EQ(seen, expected);

  // Each flag lands on its own kind.
  const std::pair<uint32_t, LineErrorKind> flags[] = {
      {kCeBreak, kLineBreak},       {kCeFrame, kLineFraming},   {kCeOverrun, kLineOverrun},
      {kCeRxOver, kLineRxOverflow}, {kCeRxParity, kLineParity}, {kCeTxFull, kLineTxFull},
  };
  for (const auto& [flag, kind] : flags) {
    std::array<std::atomic<int64_t>, kLineErrorKindCount> one{};
    device_.SetCommErrors(flag);
    ReportLineStatus(context_, &device_, 0, &one);
    for (int k = 0; k < kLineErrorKindCount; ++k) {
      EXPECT_EQ(one[static_cast<size_t>(k)].load(), k == kind ? 1 : 0) << flag << " " << k;
    }
  }
}

TEST_F(ReportLineStatusTest, QueryClearsTheErrors) {
  device_.SetCommErrors(kCeBreak);
  ReportLineStatus(context_, &device_, 0);
  ReportLineStatus(context_, &device_, 0);
  EXPECT_EQ(view_.CellHistory(0, kColumnLastCommError),
            std::vector<std::string>{"Break detected, "});
}

}  // namespace
}  // namespace quarnex
