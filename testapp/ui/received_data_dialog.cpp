// ReceivedDataDialog: the bytes a port last received.
#include "testapp/ui/received_data_dialog.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>
#include <mutex>
#include <vector>

#include "testapp/engine/first_mismatch.h"
#include "testapp/report/port_details.h"
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

std::string FirstMismatchSnapshot(const PortContext& port) {
  const FirstMismatch mismatch = FirstMismatchOf(port);
  if (mismatch.Kind == MismatchKind::kNone) return "";
  return "First mismatch: " + FirstMismatchText(mismatch) + "\n" + MismatchExcerptText(mismatch);
}

ReceivedDataDialog::ReceivedDataDialog(const std::string& text, const std::string& mismatch,
                                       QWidget* parent)
    : QDialog(parent) {
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
  // Beside the received text, never in it: where the first bad packet
  // differed, byte under byte.
  mismatch_ = new QPlainTextEdit(this);
  mismatch_->setObjectName("firstMismatch");
  mismatch_->setReadOnly(true);
  mismatch_->setLineWrapMode(QPlainTextEdit::NoWrap);
  mismatch_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  mismatch_->setPlainText(QString::fromStdString(mismatch));
  mismatch_->setFixedHeight(mismatch_->fontMetrics().lineSpacing() * 4 + 12);
  mismatch_->setVisible(!mismatch.empty());

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view_);
  layout->addWidget(mismatch_);
  layout->addLayout(buttons);
  resize(mismatch.empty() ? 480 : 560, 300);

  connect(ok, &QPushButton::clicked, this, &ReceivedDataDialog::accept);
}

void ReceivedDataDialog::accept() { done(kDialogOk); }

void ReceivedDataDialog::reject() { done(kDialogCancel); }

}  // namespace quarnex
