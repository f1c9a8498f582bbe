// OptionsDialog: packet limit, delay, refresh interval, blocked threads.
#include "testapp/ui/options_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QString>
#include <QVBoxLayout>

#include "testapp/settings/records.h"
#include "testapp/ui/dialog_rules.h"
#include "testapp/ui/dialog_widgets.h"

namespace quarnex {
namespace {

// What "Timeout Blocked Threads" does, with the Timeouts dialog's defaults.
// Plain text with its own line breaks: Qt does not wrap a plain tooltip.
QString TimeoutBlockedToolTip() {
  return QString(
             "Checked (the default): a read or write still outstanding after\n"
             "Read Total Timeout Constant + Read Total Timeout Multiplier\n"
             "+ twice the ideal packet time at BitRate (none without a BitRate) ms\n"
             "is purged and its packet counted as an error, shown as\n"
             "\"Read timeout\" or \"Write timeout\". Both values are set in\n"
             "Settings > Timeouts, by default %1 and %2 ms; when all three\n"
             "terms add up to 0 there is no timeout.\n"
             "The clock starts when the packet's write is issued, after the Delay\n"
             "(Loopback, Transmit only), or when the read is posted once the\n"
             "line has sent data (Receive only).\n"
             "Unchecked: reads and writes wait as long as they take.")
      .arg(kDefaultTimeouts.ReadTotalTimeoutConstant)
      .arg(kDefaultTimeouts.ReadTotalTimeoutMultiplier);
}

}  // namespace

OptionsDialog::OptionsDialog(const TestSettings& test, QWidget* parent)
    : QDialog(parent), test_(test) {
  setWindowTitle("Options");
  setObjectName("OptionsDialog");

  auto* group = new QGroupBox("Options", this);
  pause_after_check_ = new QCheckBox("Pause After", group);
  pause_after_check_->setObjectName("check1010");
  pause_after_ = MakeDialogEdit(1006, group);
  MakeDigitsOnly(pause_after_);
  delay_ = MakeDialogEdit(1018, group);
  update_interval_ = MakeDialogEdit(1019, group);
  timeout_blocked_ = new QCheckBox("Timeout Blocked Threads", group);
  timeout_blocked_->setObjectName("check1011");
  timeout_blocked_->setToolTip(TimeoutBlockedToolTip());

  auto* grid = new QGridLayout(group);
  grid->addWidget(pause_after_check_, 0, 0);
  grid->addWidget(pause_after_, 0, 1);
  grid->addWidget(new QLabel("Packets", group), 0, 2);
  grid->addWidget(new QLabel("Delay", group), 1, 0);
  grid->addWidget(delay_, 1, 1);
  grid->addWidget(new QLabel("(ms) before next packet", group), 1, 2);
  grid->addWidget(new QLabel("Update screen every", group), 2, 0);
  grid->addWidget(update_interval_, 2, 1);
  grid->addWidget(new QLabel("(ms)", group), 2, 2);
  grid->addWidget(timeout_blocked_, 3, 0, 1, 3);
  problems_ = {MakeProblemLabel(1006, group), MakeProblemLabel(1018, group),
               MakeProblemLabel(1019, group)};
  fields_ = {pause_after_, delay_, update_interval_};
  for (int row = 0; row < 3; ++row) grid->addWidget(problems_[row], row, 3);

  auto* buttons = MakeOkCancelRow(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(buttons);

  timeout_blocked_->setChecked(test_.TimeoutBlockedThreads != 0);
  // No limit shows as an unchecked box with an empty count.
  if (test_.PauseAfter != 0) {
    pause_after_check_->setChecked(true);
    pause_after_->setText(UnsignedText(static_cast<uint32_t>(test_.PauseAfter)));
  }
  delay_->setText(UnsignedText(test_.Delay));
  update_interval_->setText(UnsignedText(test_.UpdateInterval));

}

void OptionsDialog::accept() {
  const OptionsInput input{pause_after_check_->isChecked(), FieldText(pause_after_),
                           FieldText(delay_), FieldText(update_interval_),
                           timeout_blocked_->isChecked()};
  if (!ShowFieldProblems(CheckOptions(input), problems_, fields_)) return;
  ApplyOptionsOk(input, &test_);
  done(kDialogOk);
}

void OptionsDialog::reject() { done(kDialogCancel); }

}  // namespace quarnex
