// OptionsDialog: packet limit, delay, row refresh interval, the
// "Timeout Blocked Threads" switch, and the Prometheus endpoint of a run.
//
// It takes the test settings as a plain record and, when confirmed, hands
// back the record with PauseAfter, TimeoutBlockedThreads, Delay and
// UpdateInterval set by the dialog's rules (dialog_rules.h); likewise the
// metrics setting.
//
// A modal dialog of the user-interface thread.
#ifndef QUARNEX_UI_OPTIONS_DIALOG_H_
#define QUARNEX_UI_OPTIONS_DIALOG_H_

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <vector>

#include "testapp/settings/records.h"
#include "testapp/ui/metrics_setting.h"

namespace quarnex {

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  OptionsDialog(const TestSettings& test, QWidget* parent = nullptr);
  OptionsDialog(const TestSettings& test, const MetricsSetting& metrics, QWidget* parent = nullptr);

  // The records: as opened until OK, then as confirmed.
  const TestSettings& Values() const { return test_; }
  const MetricsSetting& Metrics() const { return metrics_; }

  void accept() override;
  void reject() override;

 private:
  TestSettings test_;
  QCheckBox* pause_after_check_;
  QLineEdit* pause_after_;
  QLineEdit* delay_;
  QLineEdit* update_interval_;
  QCheckBox* timeout_blocked_;
  MetricsSetting metrics_;
  QCheckBox* serve_metrics_;
  QLineEdit* metrics_address_;
  // The words next to the fields OK refused, and the fields, indexed by
  // the dialog's field list (dialog_rules.h).
  std::vector<QLabel*> problems_;
  std::vector<QWidget*> fields_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_OPTIONS_DIALOG_H_
