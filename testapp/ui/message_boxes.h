// The window's message boxes: the engine's start-up errors and the answers
// of the line queries.
//
// A box is modal and has no owner window, one OK button and no icon. On the
// user-interface thread ShowMessage returns when the box is closed; the
// worker threads keep running meanwhile, since they never wait for this
// thread. Called from any other thread it only queues the box for the
// user-interface thread and returns at once.
#ifndef QUARNEX_UI_MESSAGE_BOXES_H_
#define QUARNEX_UI_MESSAGE_BOXES_H_

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/report/results_view.h"

namespace quarnex {

inline constexpr char kErrorCaption[] = "Error";

void ShowMessage(const QString& caption, const QString& text);

// The engine's MessageSink: boxes captioned "Error".
//
// A Start may produce several messages (one per port that fails to open,
// then the verdict on the whole start). Between BeginCollecting and
// ShowCollected the errors raised on the user-interface thread are kept and
// then shown together in one box, each text as it is, a blank line between
// two; an error from a worker thread still gets its own box at once.
class MessageBoxSink : public MessageSink {
 public:
  void ShowError(std::string_view text) override;
  // Writes the notice where it always went (standard output and standard
  // error) and keeps it for the window, which shows it until the next
  // Start (TakeNotice).
  void ShowNotice(std::string_view text, std::string_view detail) override;
  // Writes the warning to standard error and keeps it for the window's
  // banner until the next Start (TakeWarnings).
  void ShowWarning(std::string_view text) override;

  void BeginCollecting();
  // The texts kept since BeginCollecting, oldest first.
  std::vector<std::string> Collected() const;
  // Ends collecting and shows what was kept, if anything, in one box.
  void ShowCollected();

  // The notice of the last Start, once; nullopt when it had none.
  std::optional<std::string> TakeNotice();
  // The warnings of the last Start, once, oldest first.
  std::vector<std::string> TakeWarnings();

 private:
  // Touched on the user-interface thread only.
  bool collecting_ = false;
  QStringList collected_;
  std::optional<std::string> notice_;
  std::vector<std::string> warnings_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_MESSAGE_BOXES_H_
