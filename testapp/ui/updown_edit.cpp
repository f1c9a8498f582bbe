// UpDownEdit: a digits-only field with up-down arrows.
#include "testapp/ui/updown_edit.h"

#include <QRegularExpression>
#include <algorithm>

#include "testapp/ui/dialog_rules.h"

namespace quarnex {

UpDownEdit::UpDownEdit(int minimum, int maximum, QWidget* parent)
    : QAbstractSpinBox(parent),
      minimum_(minimum),
      maximum_(maximum),
      digits_(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this)) {
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  setAccelerated(true);
}

QString UpDownEdit::Text() const { return lineEdit()->text(); }

void UpDownEdit::SetText(const QString& text) { lineEdit()->setText(text); }

int64_t UpDownEdit::ClampedValue() const {
  const int64_t value = ParseUnsignedDecimal(Text().toStdString());
  return std::clamp<int64_t>(value, minimum_, maximum_);
}

void UpDownEdit::stepBy(int steps) {
  const int64_t value = std::clamp<int64_t>(ClampedValue() + steps, minimum_, maximum_);
  lineEdit()->setText(QString::number(value));
  lineEdit()->selectAll();
}

QValidator::State UpDownEdit::validate(QString& input, int& pos) const {
  return digits_->validate(input, pos);
}

QAbstractSpinBox::StepEnabled UpDownEdit::stepEnabled() const {
  const int64_t value = ClampedValue();
  StepEnabled enabled = StepNone;
  if (value < maximum_) enabled |= StepUpEnabled;
  if (value > minimum_) enabled |= StepDownEnabled;
  return enabled;
}

}  // namespace quarnex
