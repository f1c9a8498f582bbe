// TimeoutsDialog: the read time-out pair. With "Timeout Blocked Threads" on,
// their sum plus twice the ideal packet time is how long a transfer may
// stay outstanding before the engine ends it as blocked.
//
// It takes the pair as a plain record and hands it back as confirmed.
// "&Defaults" refills the fields only; the record changes on OK.
//
// A modal dialog of the user-interface thread.
#ifndef QUARNEX_UI_TIMEOUTS_DIALOG_H_
#define QUARNEX_UI_TIMEOUTS_DIALOG_H_

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <vector>

#include "testapp/settings/records.h"

namespace quarnex {

// The line under the fields: the largest value they keep, and the stall
// limit that no value switches off.
QString TimeoutsLimitsText();

class TimeoutsDialog : public QDialog {
  Q_OBJECT

 public:
  TimeoutsDialog(const TimeoutSettings& timeouts, QWidget* parent = nullptr);

  // The record: as opened until OK, then as confirmed.
  const TimeoutSettings& Values() const { return timeouts_; }

  void accept() override;
  void reject() override;

 private:
  void ShowValues(const TimeoutSettings& timeouts);

  TimeoutSettings timeouts_;
  QLineEdit* multiplier_;
  QLineEdit* constant_;
  // The words next to the fields OK refused, and the fields, indexed by
  // the dialog's field list (dialog_rules.h).
  std::vector<QLabel*> problems_;
  std::vector<QWidget*> fields_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_TIMEOUTS_DIALOG_H_
