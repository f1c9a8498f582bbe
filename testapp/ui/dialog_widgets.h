// Small pieces the dialogs share: buttons named after their control ids,
// digits-only and number fields.
//
// Widgets of the user-interface thread.
#ifndef QUARNEX_UI_DIALOG_WIDGETS_H_
#define QUARNEX_UI_DIALOG_WIDGETS_H_

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "testapp/ui/dialog_rules.h"

namespace quarnex {

// A push button named "button<id>" that does not take Enter unless it is
// made the default.
QPushButton* MakeDialogButton(const QString& text, int id, QWidget* parent);

// The row of buttons under a dialog: `leading` (may be null) on the left,
// then "OK" (the default, "button1") and "Cancel" ("button2") on the right,
// wired to the dialog's accept() and reject().
QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton* leading = nullptr);

// A text field named "edit<id>".
QLineEdit* MakeDialogEdit(int id, QWidget* parent);

// Makes `edit` accept digit keys only.
void MakeDigitsOnly(QLineEdit* edit);

// A number as the dialogs show it: unsigned decimal.
QString UnsignedText(uint32_t value);

// A field's text for ParseUnsignedDecimal.
std::string FieldText(const QLineEdit* edit);

// The word next to a field that OK refused: a label named "problem<id>",
// hidden until ShowFieldProblems shows it.
QLabel* MakeProblemLabel(int id, QWidget* parent);

// Shows each problem's word in labels[problem.field] and hides the other
// labels; focuses fields[first problem's field]. Returns true when there
// was none, so OK may go on.
bool ShowFieldProblems(const std::vector<FieldProblem>& problems,
                       const std::vector<QLabel*>& labels, const std::vector<QWidget*>& fields);

}  // namespace quarnex

#endif  // QUARNEX_UI_DIALOG_WIDGETS_H_
