// The interfaces through which the engine writes the results table, the
// status bar and its start-up messages.
//
// Any thread may call them. When a call returns, its text is in the table:
// a later read by anyone sees it. Implementations never make the caller wait
// for a paint or for the user-interface thread (the Qt model keeps the texts
// under its own lock and repaints later), so no worker can deadlock with the
// window. RecordingView (recording_view.h) backs them in tests and benches.
#ifndef QUARNEX_REPORT_RESULTS_VIEW_H_
#define QUARNEX_REPORT_RESULTS_VIEW_H_

#include <cstdio>
#include <string_view>

namespace quarnex {

// Columns of the results table.
inline constexpr int kColumnPort = 0;
inline constexpr int kColumnPackets = 1;
inline constexpr int kColumnErrors = 2;
inline constexpr int kColumnTime = 3;
inline constexpr int kColumnStatus = 4;
inline constexpr int kColumnLastCommError = 5;

// Parts of the status bar.
inline constexpr int kStatusState = 0;
inline constexpr int kStatusSummary = 1;

class ResultsView {
 public:
  virtual ~ResultsView() = default;
  // Inserts a row whose column 0 reads `port_label`, asking for `position`;
  // returns the index the row got (never past the current row count).
  virtual int InsertRow(int position, std::string_view port_label) = 0;
  virtual void DeleteAllRows() = 0;
  // Sets one cell. A row or column that does not exist is ignored.
  virtual void SetCell(int row, int column, std::string_view text) = 0;
  virtual void SetStatus(int part, std::string_view text) = 0;
  // Makes the table select whole rows (done at every Start).
  virtual void SelectWholeRows() = 0;
};

// Start-up error messages: a modal box captioned "Error" in the window, a
// line on standard error in the headless runner, a record in tests.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowError(std::string_view text) = 0;
  // A notice that needs no answer, once per Start: the configuration file
  // could not be read. `text` is the program's own wording; `detail` names
  // the path and the reason. By default `text` goes to standard output
  // without a line feed, as it always has, and `detail` to standard error
  // as a line of its own.
  virtual void ShowNotice(std::string_view text, std::string_view detail) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  // A warning that needs no answer, once per Start for each line of the
  // configuration file whose value is not a clean number in range (the run
  // goes on with what the line gave). By default one line on standard error.
  virtual void ShowWarning(std::string_view text) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
};

}  // namespace quarnex

#endif  // QUARNEX_REPORT_RESULTS_VIEW_H_
