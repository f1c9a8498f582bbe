// TestSettingsDialog: mode, optional file, first port, number of ports and
// packet size.
//
// It takes the test settings and packet size as a plain record and, when
// confirmed, hands back the record with the dialog's rules applied
// (dialog_rules.h). OK refuses a value it cannot keep with a word next to
// its field; Cancel leaves the record as it came.
//
// A modal dialog of the user-interface thread.
#ifndef QUARNEX_UI_TEST_SETTINGS_DIALOG_H_
#define QUARNEX_UI_TEST_SETTINGS_DIALOG_H_

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <vector>

#include "testapp/ui/dialog_rules.h"
#include "testapp/ui/updown_edit.h"

namespace quarnex {

class TestSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  TestSettingsDialog(const TestDialogValues& values, QWidget* parent = nullptr);

  // The record: as opened until OK, then as confirmed.
  const TestDialogValues& Values() const { return values_; }

  // OK (result 1) and Cancel or Esc (result 2).
  void accept() override;
  void reject() override;

 private:
  void OnModeChanged(int position);
  // The "..." button: the file chooser, whose choice fills the file field.
  void ChooseFile();
  // Position of the mode entry the combo box shows, or kNoModeSelected.
  int SelectedMode() const;

  TestDialogValues values_;
  QComboBox* mode_;
  QLabel* file_label_;
  QLineEdit* file_;
  QPushButton* browse_;
  UpDownEdit* port_index_;
  UpDownEdit* port_count_;
  UpDownEdit* packet_size_;
  // Indexed by TestDialogField.
  std::vector<QLabel*> problems_;
  std::vector<QWidget*> fields_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_TEST_SETTINGS_DIALOG_H_
