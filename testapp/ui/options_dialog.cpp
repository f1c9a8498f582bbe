// OptionsDialog: packet limit, delay, refresh interval, blocked threads,
// the metrics endpoint.
#include "testapp/ui/options_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QString>
#include <QVBoxLayout>
#include <utility>

#include "testapp/settings/records.h"
#include "testapp/station/station_run.h"
#include "testapp/ui/dialog_rules.h"
#include "testapp/ui/dialog_widgets.h"
#include "testapp/ui/window_metrics.h"

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

QString ServeMetricsToolTip() {
  return QString(
             "Checked: from the next Start, a run serves its metrics for Prometheus\n"
             "at http://ADDRESS:PORT/metrics, the ones quarnex-run --metrics serves,\n"
             "until the next Start, labelled with this machine's name.\n"
             "The address: %1.")
      .arg(kMetricsAddressForm);
}

}  // namespace

OptionsDialog::OptionsDialog(const TestSettings& test, QWidget* parent)
    : OptionsDialog(test, MetricsSetting(), parent) {}

OptionsDialog::OptionsDialog(const TestSettings& test, const MetricsSetting& metrics,
                             QWidget* parent)
    : QDialog(parent), test_(test), metrics_(metrics) {
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

  auto* metrics_group = new QGroupBox("Prometheus", this);
  serve_metrics_ = new QCheckBox("Serve metrics at", metrics_group);
  serve_metrics_->setObjectName("check1080");
  serve_metrics_->setToolTip(ServeMetricsToolTip());
  metrics_address_ = MakeDialogEdit(1081, metrics_group);
  metrics_address_->setToolTip(ServeMetricsToolTip());
  if (!WindowMetrics::Available()) {
    serve_metrics_->setEnabled(false);
    serve_metrics_->setToolTip("Not available: the window was built without prometheus-cpp.");
  }
  auto* metrics_grid = new QGridLayout(metrics_group);
  metrics_grid->addWidget(serve_metrics_, 0, 0);
  metrics_grid->addWidget(metrics_address_, 0, 1);
  metrics_grid->addWidget(new QLabel("/metrics", metrics_group), 0, 2);
  problems_.push_back(MakeProblemLabel(1081, metrics_group));
  fields_.push_back(metrics_address_);
  metrics_grid->addWidget(problems_.back(), 1, 0, 1, 3);

  auto* buttons = MakeOkCancelRow(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(metrics_group);
  layout->addLayout(buttons);

  timeout_blocked_->setChecked(test_.TimeoutBlockedThreads != 0);
  // No limit shows as an unchecked box with an empty count.
  if (test_.PauseAfter != 0) {
    pause_after_check_->setChecked(true);
    pause_after_->setText(UnsignedText(static_cast<uint32_t>(test_.PauseAfter)));
  }
  delay_->setText(UnsignedText(test_.Delay));
  update_interval_->setText(UnsignedText(test_.UpdateInterval));
  serve_metrics_->setChecked(metrics_.serve && WindowMetrics::Available());
  metrics_address_->setText(QString::fromStdString(metrics_.address));
}

void OptionsDialog::accept() {
  const OptionsInput input{pause_after_check_->isChecked(), FieldText(pause_after_),
                           FieldText(delay_), FieldText(update_interval_),
                           timeout_blocked_->isChecked()};
  const MetricsInput metrics{serve_metrics_->isChecked(), FieldText(metrics_address_)};
  std::vector<FieldProblem> problems = CheckOptions(input);
  for (FieldProblem& problem : CheckMetricsOption(metrics)) problems.push_back(std::move(problem));
  if (!ShowFieldProblems(problems, problems_, fields_)) return;
  ApplyOptionsOk(input, &test_);
  metrics_ = ReadMetricsFields(metrics);
  done(kDialogOk);
}

void OptionsDialog::reject() { done(kDialogCancel); }

}  // namespace quarnex
