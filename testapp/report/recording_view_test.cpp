#include "testapp/report/recording_view.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace quarnex {
namespace {

std::vector<std::string> Labels(const RecordingView& view) {
  std::vector<std::string> labels;
  for (int row = 0; row < view.RowCount(); ++row) labels.push_back(view.Cell(row, kColumnPort));
  return labels;
}

TEST(RecordingViewTest, InsertRowNeverPastTheRowCount) {
  RecordingView view;
  EXPECT_EQ(view.InsertRow(5, "Quarnex03"), 0);
  EXPECT_EQ(view.InsertRow(0, "Quarnex01"), 0);
  EXPECT_EQ(view.InsertRow(1, "Quarnex02"), 1);
  EXPECT_EQ(view.InsertRow(99, "Quarnex04"), 3);
  EXPECT_EQ(view.InsertRow(-1, "Quarnex00"), 0);
  EXPECT_EQ(Labels(view), (std::vector<std::string>{"Quarnex00", "Quarnex01", "Quarnex02",
                                                    "Quarnex03", "Quarnex04"}));

  // Cells move with their row when one is inserted before it.
  view.SetCell(1, kColumnStatus, "Success");
  view.InsertRow(0, "Quarnex99");
  EXPECT_EQ(view.Cell(2, kColumnStatus), "Success");
  EXPECT_EQ(view.Cell(1, kColumnStatus), "");

  view.DeleteAllRows();
  EXPECT_EQ(view.RowCount(), 0);
  EXPECT_EQ(view.Cell(0, kColumnPort), "");
  EXPECT_EQ(view.InsertRow(3, "Quarnex07"), 0);
  EXPECT_EQ(view.Cell(0, kColumnStatus), "");
}

TEST(RecordingViewTest, WritesOutsideTheTableAreIgnored) {
  RecordingView view;
  view.SetCell(0, kColumnStatus, "no row yet");
  view.InsertRow(0, "Quarnex01");
  const struct {
    int row, column;
  } kOutside[] = {{-1, 1}, {1, 1}, {0, -1}, {0, RecordingView::kColumns}};
  for (const auto& c : kOutside) {
    view.SetCell(c.row, c.column, "ignored");
    EXPECT_EQ(view.Cell(c.row, c.column), "");
    EXPECT_TRUE(view.CellHistory(c.row, c.column).empty());
  }
  EXPECT_EQ(view.RowCount(), 1);
  for (int column = 0; column < RecordingView::kColumns; ++column) {
    EXPECT_NE(view.Cell(0, column), "ignored") << column;
  }
  EXPECT_EQ(view.CellWriteCount(), 1u);  // the label only

  view.SetStatus(kStatusState, "Running");
  view.SetStatus(kStatusSummary, "9600    8N       1024");
  view.SetStatus(2, "ignored");
  view.SetStatus(-1, "ignored");
  EXPECT_EQ(view.Status(kStatusState), "Running");
  EXPECT_EQ(view.Status(kStatusSummary), "9600    8N       1024");
  EXPECT_EQ(view.Status(2), "");
}

TEST(RecordingViewTest, HistoryKeepsEveryTextInTurnWhenOn) {
  RecordingView view;
  view.InsertRow(0, "Quarnex01");
  for (const char* text : {"Sending 1024", "Sending 2048", "Success"}) {
    view.SetCell(0, kColumnStatus, text);
  }
  EXPECT_EQ(view.Cell(0, kColumnStatus), "Success");
  EXPECT_EQ(view.CellHistory(0, kColumnStatus),
            (std::vector<std::string>{"Sending 1024", "Sending 2048", "Success"}));
  EXPECT_EQ(view.CellHistory(0, kColumnPort), std::vector<std::string>{"Quarnex01"});

  view.SetHistoryEnabled(false);
  EXPECT_TRUE(view.CellHistory(0, kColumnStatus).empty());
  view.SetCell(0, kColumnStatus, "Data mismatch");
  EXPECT_EQ(view.Cell(0, kColumnStatus), "Data mismatch");
  EXPECT_TRUE(view.CellHistory(0, kColumnStatus).empty());
  EXPECT_EQ(view.CellWriteCount(), 5u);

  RecordingView bench_view(/*keep_history=*/false);
  bench_view.InsertRow(0, "Quarnex01");
  bench_view.SetCell(0, kColumnPackets, "1");
  EXPECT_EQ(bench_view.Cell(0, kColumnPackets), "1");
  EXPECT_TRUE(bench_view.CellHistory(0, kColumnPackets).empty());
}

TEST(RecordingViewTest, MessagesAndRowSelectionAreRecorded) {
  RecordingView view;
  EXPECT_FALSE(view.WholeRowsSelected());
  view.ShowError("Cannot open Quarnex02");
  view.ShowError("No port could be opened");
  view.SelectWholeRows();
  EXPECT_EQ(view.Messages(),
            (std::vector<std::string>{"Cannot open Quarnex02", "No port could be opened"}));
  EXPECT_TRUE(view.WholeRowsSelected());
}

TEST(RecordingViewTest, WorkersWriteTheirRowsAtOnce) {
  constexpr int kWorkers = 4;
  constexpr int kWrites = 500;
  RecordingView view;
  for (int row = 0; row < kWorkers; ++row)
    view.InsertRow(row, "Quarnex0" + std::to_string(row + 1));
  std::vector<std::thread> workers;
  for (int row = 0; row < kWorkers; ++row) {
    workers.emplace_back([&view, row] {
      for (int i = 1; i <= kWrites; ++i) {
        view.SetCell(row, kColumnPackets, std::to_string(i));
        view.SetStatus(kStatusState, "Running");
        (void)view.Cell((row + 1) % kWorkers, kColumnPackets);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (int row = 0; row < kWorkers; ++row) {
    EXPECT_EQ(view.Cell(row, kColumnPackets), std::to_string(kWrites));
    const std::vector<std::string> history = view.CellHistory(row, kColumnPackets);
    ASSERT_EQ(history.size(), static_cast<size_t>(kWrites));
    for (int i = 0; i < kWrites; ++i) ASSERT_EQ(history[i], std::to_string(i + 1)) << "row " << row;
  }
  EXPECT_EQ(view.CellWriteCount(), static_cast<uint64_t>(kWorkers) * (kWrites + 1));
}

}  // namespace
}  // namespace quarnex
