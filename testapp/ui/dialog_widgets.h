// Small pieces the dialogs share: buttons named after their control ids,
// digits-only and number fields.
//
// Widgets of the user-interface thread.
#ifndef QUARNEX_UI_DIALOG_WIDGETS_H_
#define QUARNEX_UI_DIALOG_WIDGETS_H_

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <cstdint>
#include <string>

namespace quarnex {

// A push button named "button<id>" that does not take Enter unless it is
// made the default.
QPushButton* MakeDialogButton(const QString& text, int id, QWidget* parent);

// A text field named "edit<id>".
QLineEdit* MakeDialogEdit(int id, QWidget* parent);

// Makes `edit` accept digit keys only.
void MakeDigitsOnly(QLineEdit* edit);

// A number as the dialogs show it: unsigned decimal.
QString UnsignedText(uint32_t value);

// A field's text for ParseUnsignedDecimal.
std::string FieldText(const QLineEdit* edit);

}  // namespace quarnex

#endif  // QUARNEX_UI_DIALOG_WIDGETS_H_
