// Small pieces the dialogs share.
#include "testapp/ui/dialog_widgets.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace quarnex {

QPushButton* MakeDialogButton(const QString& text, int id, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString("button%1").arg(id));
  button->setAutoDefault(false);
  return button;
}

QLineEdit* MakeDialogEdit(int id, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString("edit%1").arg(id));
  return edit;
}

void MakeDigitsOnly(QLineEdit* edit) {
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
}

QString UnsignedText(uint32_t value) { return QString::number(value); }

std::string FieldText(const QLineEdit* edit) { return edit->text().toStdString(); }

}  // namespace quarnex
