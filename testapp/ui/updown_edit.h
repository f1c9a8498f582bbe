// UpDownEdit: a digits-only text field with up-down arrows.
//
// The field takes any string of digits, in range or not (the dialog decides
// what to do with it when it is confirmed); the arrows and the arrow keys
// read the field, bring the value into the range and step it there, then
// write the number back into the field, without thousands separators.
//
// A widget of the user-interface thread.
#ifndef QUARNEX_UI_UPDOWN_EDIT_H_
#define QUARNEX_UI_UPDOWN_EDIT_H_

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QString>

namespace quarnex {

class UpDownEdit : public QAbstractSpinBox {
  Q_OBJECT

 public:
  UpDownEdit(int minimum, int maximum, QWidget* parent = nullptr);

  QString Text() const;
  void SetText(const QString& text);
  // The text field itself (named after its control id by the dialog).
  QLineEdit* Edit() const { return lineEdit(); }
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }

  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;

 protected:
  StepEnabled stepEnabled() const override;

 private:
  // The field's value brought into the range.
  int64_t ClampedValue() const;

  int minimum_;
  int maximum_;
  QRegularExpressionValidator* digits_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_UPDOWN_EDIT_H_
