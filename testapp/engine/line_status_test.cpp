#include "testapp/engine/line_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testapp/driver/recording_device.h"
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
       "Break detected, Framing error, Overrun error, Receive buffer overflow, Parity errorTx buffer full"},
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
  void SetUp() override {
    GlobalSettings().Test = TestSettings{};
    view_.InsertRow(0, "Quarnex01");
    view_.InsertRow(1, "Quarnex02");
    SetEngineOutputs(&view_, &view_);
  }
  void TearDown() override { SetEngineOutputs(nullptr, nullptr); }

  RecordingView view_;
  RecordingDevice device_;
};

TEST_F(ReportLineStatusTest, WritesTheTimeColumnInReceiveOnlyAndTheErrorColumnOtherwise) {
  struct Case {
    int32_t mode;
    int column;
  };
  const Case cases[] = {
      {kReceiveOnly, kColumnTime}, {kLoopback, kColumnLastCommError}, {kTransmitOnly, kColumnLastCommError}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    RecordingView view;
    view.InsertRow(0, "Quarnex01");
    view.InsertRow(1, "Quarnex02");
    SetEngineOutputs(&view, &view);
    GlobalSettings().Test.Mode = c.mode;
    device_.SetCommErrors(kCeFrame);

    ReportLineStatus(&device_, 1);

    for (int column = kColumnPackets; column <= kColumnLastCommError; ++column) {
      EXPECT_EQ(view.Cell(1, column), column == c.column ? "Framing error, " : "") << column;
    }
    EXPECT_EQ(view.Cell(0, c.column), "");
  }
  SetEngineOutputs(&view_, &view_);
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
    ReportLineStatus(&device_, 0);
    EXPECT_EQ(view_.CellHistory(0, kColumnLastCommError).size(), 1u);
  }
  ReportLineStatus(nullptr, 0);
  EXPECT_EQ(view_.Cell(0, kColumnLastCommError), "Overrun error, ");
}

TEST_F(ReportLineStatusTest, QueryClearsTheErrors) {
  device_.SetCommErrors(kCeBreak);
  ReportLineStatus(&device_, 0);
  ReportLineStatus(&device_, 0);
  EXPECT_EQ(view_.CellHistory(0, kColumnLastCommError), std::vector<std::string>{"Break detected, "});
}

}  // namespace
}  // namespace quarnex
