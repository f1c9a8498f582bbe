// ReceivedDataDialog: the bytes a port last received, and the snapshot it
// shows.
//
// The snapshot is taken on the user-interface thread while the port's
// reader may be receiving: it copies the port's published LastData under
// ReceiveMutex, so it is consistent and never reaches past what the reader
// published. The dialog itself only shows a text.
#ifndef QUARNEX_UI_RECEIVED_DATA_DIALOG_H_
#define QUARNEX_UI_RECEIVED_DATA_DIALOG_H_

#include <QDialog>
#include <QPlainTextEdit>
#include <string>

#include "testapp/engine/port_table.h"

namespace quarnex {

// The text of `port`'s last non-empty read: at most LastNonEmptyReadLength
// bytes, ending at the first zero byte; empty before any data arrived.
std::string TakeReceivedSnapshot(PortContext& port);

// Where `port`'s first bad packet since Start differed, with the bytes
// around it in hex, as lines:
//   "First mismatch: packet 17, byte 345"
//   "expected from byte 337: 51 52 ..."
//   "received from byte 337: 51 ff ..."
// Empty before any mismatch.
std::string FirstMismatchSnapshot(const PortContext& port);

class ReceivedDataDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows `text` as single-byte characters and, below it when not empty,
  // `mismatch` (FirstMismatchSnapshot) in a fixed-width font.
  ReceivedDataDialog(const std::string& text, const std::string& mismatch = "",
                     QWidget* parent = nullptr);

  void accept() override;
  void reject() override;

 private:
  QPlainTextEdit* view_;
  QPlainTextEdit* mismatch_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_RECEIVED_DATA_DIALOG_H_
