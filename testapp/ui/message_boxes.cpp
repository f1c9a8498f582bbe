// The window's message boxes.
#include "testapp/ui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <utility>

namespace quarnex {
namespace {

bool OnUserInterfaceThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace

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
  const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (collecting_ && OnUserInterfaceThread()) {
    collected_ << message;
    return;
  }
  ShowMessage(kErrorCaption, message);
}

void MessageBoxSink::ShowNotice(std::string_view text, std::string_view detail) {
  MessageSink::ShowNotice(text, detail);
  if (OnUserInterfaceThread()) notice_ = std::string(detail);
}

void MessageBoxSink::ShowWarning(std::string_view text) {
  MessageSink::ShowWarning(text);
  if (OnUserInterfaceThread()) warnings_.emplace_back(text);
}

void MessageBoxSink::BeginCollecting() {
  collecting_ = true;
  collected_.clear();
  notice_.reset();
  warnings_.clear();
}

std::vector<std::string> MessageBoxSink::Collected() const {
  std::vector<std::string> texts;
  for (const QString& text : collected_) texts.push_back(text.toStdString());
  return texts;
}

void MessageBoxSink::ShowCollected() {
  collecting_ = false;
  if (collected_.isEmpty()) return;
  const QString text = collected_.join("\n\n");
  collected_.clear();
  ShowMessage(kErrorCaption, text);
}

std::optional<std::string> MessageBoxSink::TakeNotice() { return std::exchange(notice_, {}); }

std::vector<std::string> MessageBoxSink::TakeWarnings() { return std::exchange(warnings_, {}); }

}  // namespace quarnex
