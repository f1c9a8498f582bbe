// TimeoutsDialog: the read time-out pair.
#include "testapp/ui/timeouts_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "testapp/ui/dialog_rules.h"
#include "testapp/ui/dialog_widgets.h"

namespace quarnex {
namespace {

constexpr int kIdDefaults = 1030;

}  // namespace

TimeoutsDialog::TimeoutsDialog(const TimeoutSettings& timeouts, QWidget* parent)
    : QDialog(parent), timeouts_(timeouts) {
  setWindowTitle("Timeouts");
  setObjectName("TimeoutsDialog");

  auto* group = new QGroupBox("Read Timeouts", this);
  multiplier_ = MakeDialogEdit(1059, group);
  constant_ = MakeDialogEdit(1060, group);
  auto* grid = new QGridLayout(group);
  // "Multipler" is the label the tester has always shown.
  grid->addWidget(new QLabel("Read Total Timeout Multipler:", group), 0, 0);
  grid->addWidget(multiplier_, 0, 1);
  grid->addWidget(new QLabel("Read Total Timeout Constant:", group), 1, 0);
  grid->addWidget(constant_, 1, 1);

  auto* ok = MakeDialogButton("OK", kDialogOk, this);
  ok->setDefault(true);
  auto* cancel = MakeDialogButton("Cancel", kDialogCancel, this);
  auto* defaults = MakeDialogButton("&Defaults", kIdDefaults, this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(defaults);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(buttons);

  ShowValues(timeouts_);

  connect(ok, &QPushButton::clicked, this, &TimeoutsDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &TimeoutsDialog::reject);
  connect(defaults, &QPushButton::clicked, this, [this] { ShowValues(kDefaultTimeouts); });
}

void TimeoutsDialog::ShowValues(const TimeoutSettings& timeouts) {
  multiplier_->setText(UnsignedText(timeouts.ReadTotalTimeoutMultiplier));
  constant_->setText(UnsignedText(timeouts.ReadTotalTimeoutConstant));
}

void TimeoutsDialog::accept() {
  timeouts_ = ReadTimeoutFields(FieldText(multiplier_), FieldText(constant_));
  done(kDialogOk);
}

void TimeoutsDialog::reject() { done(kDialogCancel); }

}  // namespace quarnex
