// The window's message boxes.
#include "testapp/ui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace quarnex {

void ShowMessage(const QString& caption, const QString& text) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  if (QThread::currentThread() != app->thread()) {
    QMetaObject::invokeMethod(
        app, [caption, text] { ShowMessage(caption, text); }, Qt::QueuedConnection);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
  box.setObjectName("MessageBox");
  box.exec();
}

void MessageBoxSink::ShowError(std::string_view text) {
  ShowMessage(kErrorCaption, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace quarnex
