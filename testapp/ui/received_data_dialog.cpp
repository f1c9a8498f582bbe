// ReceivedDataDialog: the bytes a port last received.
#include "testapp/ui/received_data_dialog.h"

#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>
#include <mutex>
#include <vector>

#include "testapp/ui/dialog_rules.h"
#include "testapp/ui/dialog_widgets.h"

namespace quarnex {

std::string TakeReceivedSnapshot(PortContext& port) {
  std::vector<uint8_t> data;
  {
    std::lock_guard<std::mutex> lock(port.ReceiveMutex);
    data = port.LastData;
  }
  return ReceivedText(data, port.LastNonEmptyReadLength.load());
}

ReceivedDataDialog::ReceivedDataDialog(const std::string& text, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Received data");
  setObjectName("ReceivedDataDialog");
  view_ = new QPlainTextEdit(this);
  view_->setObjectName("edit1015");
  view_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Received bytes seldom hold blanks to break at.
  view_->setWordWrapMode(QTextOption::WrapAnywhere);
  view_->setPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  view_->moveCursor(QTextCursor::End);

  auto* ok = MakeDialogButton("OK", kDialogOk, this);
  ok->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view_);
  layout->addLayout(buttons);
  resize(480, 300);

  connect(ok, &QPushButton::clicked, this, &ReceivedDataDialog::accept);
}

void ReceivedDataDialog::accept() { done(kDialogOk); }

void ReceivedDataDialog::reject() { done(kDialogCancel); }

}  // namespace quarnex
