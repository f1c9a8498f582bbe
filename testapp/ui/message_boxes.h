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
#include <string_view>

#include "testapp/report/results_view.h"

namespace quarnex {

inline constexpr char kErrorCaption[] = "Error";

void ShowMessage(const QString& caption, const QString& text);

// The engine's MessageSink: boxes captioned "Error".
class MessageBoxSink : public MessageSink {
 public:
  void ShowError(std::string_view text) override;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_MESSAGE_BOXES_H_
