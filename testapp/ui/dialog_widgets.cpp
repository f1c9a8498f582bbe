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

QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton* leading) {
  auto* ok = MakeDialogButton("OK", kDialogOk, dialog);
  ok->setDefault(true);
  auto* cancel = MakeDialogButton("Cancel", kDialogCancel, dialog);
  auto* buttons = new QHBoxLayout;
  if (leading != nullptr) buttons->addWidget(leading);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  return buttons;
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

QLabel* MakeProblemLabel(int id, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString("problem%1").arg(id));
  label->setStyleSheet("color: #b00020;");
  label->hide();
  return label;
}

bool ShowFieldProblems(const std::vector<FieldProblem>& problems,
                       const std::vector<QLabel*>& labels, const std::vector<QWidget*>& fields) {
  for (QLabel* label : labels) label->hide();
  for (const FieldProblem& problem : problems) {
    if (problem.field < 0 || static_cast<size_t>(problem.field) >= labels.size()) continue;
    QLabel* label = labels[static_cast<size_t>(problem.field)];
    label->setText(QString::fromStdString(problem.text));
    label->show();
  }
  if (problems.empty()) return true;
  const size_t first = static_cast<size_t>(problems.front().field);
  if (first < fields.size() && fields[first] != nullptr) fields[first]->setFocus();
  return false;
}

}  // namespace quarnex
