// TimeoutsDialog: the read time-out pair.
#include "testapp/ui/timeouts_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QString>
#include <QVBoxLayout>
#include <cstdint>
#include <limits>

#include "testapp/engine/transfer_wait.h"
#include "testapp/ui/dialog_rules.h"
#include "testapp/ui/dialog_widgets.h"

namespace quarnex {
namespace {

constexpr int kIdDefaults = 1030;
// The largest value either field keeps (its stored field is 32 bits).
constexpr uint32_t kMaxTimeoutValue = std::numeric_limits<uint32_t>::max();

// What one of the two values does, naming the other. Plain text with its own
// line breaks: Qt does not wrap a plain tooltip.
QString FieldToolTip(const char* value, const char* other, uint32_t default_ms) {
  return QString(
             "%1 in ms (default %3).\n"
             "With \"Timeout Blocked Threads\" checked in Settings > Options, a read\n"
             "or write still outstanding after %1 + %2\n"
             "+ twice the ideal packet time at BitRate (none without a BitRate) ms\n"
             "is purged and its packet counted as an error (\"Read timeout\" or\n"
             "\"Write timeout\"). When all three terms add up to 0 there is no timeout.\n"
             "Unchecked, reads and writes wait as long as they take; either way a\n"
             "port whose read or write stays outstanding past the stall limit is\n"
             "marked stalled and fails.")
      .arg(value, other)
      .arg(default_ms);
}

}  // namespace

QString TimeoutsLimitsText() {
  return QString(
             "Each value is kept from 0 to %1 ms. Whatever they say, a port whose read\n"
             "or write stays outstanding longer than %2 s plus %3 ideal packet times is\n"
             "STALLED: amber in the table, and a failed port.")
      .arg(kMaxTimeoutValue)
      .arg(kStallFloorMs / 1000.0)
      .arg(kStallPacketTimes);
}

TimeoutsDialog::TimeoutsDialog(const TimeoutSettings& timeouts, QWidget* parent)
    : QDialog(parent), timeouts_(timeouts) {
  setWindowTitle("Timeouts");
  setObjectName("TimeoutsDialog");

  auto* group = new QGroupBox("Read Timeouts", this);
  multiplier_ = MakeDialogEdit(1059, group);
  constant_ = MakeDialogEdit(1060, group);
  // "Multipler" is the label the tester has always shown.
  auto* multiplier_label = new QLabel("Read Total Timeout Multipler:", group);
  auto* constant_label = new QLabel("Read Total Timeout Constant:", group);
  const QString multiplier_tip =
      FieldToolTip("Read Total Timeout Multiplier", "Read Total Timeout Constant",
                   kDefaultTimeouts.ReadTotalTimeoutMultiplier);
  const QString constant_tip =
      FieldToolTip("Read Total Timeout Constant", "Read Total Timeout Multiplier",
                   kDefaultTimeouts.ReadTotalTimeoutConstant);
  multiplier_label->setToolTip(multiplier_tip);
  multiplier_->setToolTip(multiplier_tip);
  constant_label->setToolTip(constant_tip);
  constant_->setToolTip(constant_tip);
  auto* grid = new QGridLayout(group);
  grid->addWidget(multiplier_label, 0, 0);
  grid->addWidget(multiplier_, 0, 1);
  grid->addWidget(constant_label, 1, 0);
  grid->addWidget(constant_, 1, 1);
  problems_ = {MakeProblemLabel(1059, group), MakeProblemLabel(1060, group)};
  fields_ = {multiplier_, constant_};
  for (int row = 0; row < 2; ++row) grid->addWidget(problems_[row], row, 2);

  auto* defaults = MakeDialogButton("&Defaults", kIdDefaults, this);
  auto* buttons = MakeOkCancelRow(this, defaults);
  auto* limits = new QLabel(TimeoutsLimitsText(), this);
  limits->setObjectName("TimeoutsLimits");
  limits->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(limits);
  layout->addLayout(buttons);

  ShowValues(timeouts_);

  connect(defaults, &QPushButton::clicked, this, [this] { ShowValues(kDefaultTimeouts); });
}

void TimeoutsDialog::ShowValues(const TimeoutSettings& timeouts) {
  multiplier_->setText(UnsignedText(timeouts.ReadTotalTimeoutMultiplier));
  constant_->setText(UnsignedText(timeouts.ReadTotalTimeoutConstant));
}

void TimeoutsDialog::accept() {
  if (!ShowFieldProblems(CheckTimeouts(FieldText(multiplier_), FieldText(constant_)), problems_,
                         fields_)) {
    return;
  }
  timeouts_ = ReadTimeoutFields(FieldText(multiplier_), FieldText(constant_));
  done(kDialogOk);
}

void TimeoutsDialog::reject() { done(kDialogCancel); }

}  // namespace quarnex
