// TestSettingsDialog: mode, optional file, first port and packet size.
#include "testapp/ui/test_settings_dialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "testapp/ui/dialog_widgets.h"

namespace quarnex {
namespace {

// The file chooser starts at the last file chosen in this process and
// remembers the next choice.
QString& LastChosenFile() {
  static QString path;
  return path;
}

}  // namespace

TestSettingsDialog::TestSettingsDialog(const TestDialogValues& values, QWidget* parent)
    : QDialog(parent), values_(values) {
  setWindowTitle("Test Settings");
  setObjectName("TestSettingsDialog");
  const TestSettings& test = values_.Test;

  auto* mode_group = new QGroupBox("Mode", this);
  mode_ = new QComboBox(mode_group);
  mode_->setObjectName("combo1016");
  mode_->setEditable(true);
  mode_->setInsertPolicy(QComboBox::NoInsert);
  for (const char* name : kModeNames) mode_->addItem(name);
  const bool known_mode = test.Mode >= kLoopback && test.Mode <= kTransmitOnly;
  mode_->setCurrentIndex(known_mode ? test.Mode : kNoModeSelected);
  file_label_ = new QLabel(kCompareFileLabel, mode_group);
  file_label_->setObjectName("label1020");
  file_ = new QLineEdit(QString::fromLocal8Bit(test.FileName), mode_group);
  file_->setObjectName("edit1013");
  file_->setMinimumWidth(260);
  browse_ = MakeDialogButton("...", 1014, mode_group);
  browse_->setMaximumWidth(32);
  file_label_->setBuddy(file_);
  auto* file_problem = MakeProblemLabel(1013, mode_group);
  auto* mode_layout = new QGridLayout(mode_group);
  mode_layout->addWidget(mode_, 0, 0, 1, 2);
  mode_layout->addWidget(file_label_, 1, 0, 1, 2);
  mode_layout->addWidget(file_, 2, 0);
  mode_layout->addWidget(browse_, 2, 1);
  mode_layout->addWidget(file_problem, 3, 0, 1, 2);

  auto* settings_group = new QGroupBox("Settings", this);
  port_index_ = new UpDownEdit(kPortIndexMin, kPortIndexMax, settings_group);
  port_index_->setObjectName("updown1017");
  port_index_->Edit()->setObjectName("edit1000");
  port_index_->SetText(QString::number(test.PortIndex));
  port_count_ = new UpDownEdit(kPortCountMin, kPortCountMax, settings_group);
  port_count_->setObjectName("updown1021");
  port_count_->Edit()->setObjectName("edit1022");
  port_count_->SetText(QString::number(test.PortCount));
  port_count_->setToolTip("Ports tested at once, from the first port on (1 to 128)");
  packet_size_ = new UpDownEdit(kPacketSizeMin, kPacketSizeMax, settings_group);
  packet_size_->setObjectName("updown1019");
  packet_size_->Edit()->setObjectName("edit1003");
  packet_size_->SetText(QString::number(values_.PacketSize));
  auto* port_label = new QLabel("Port Index:", settings_group);
  port_label->setBuddy(port_index_);
  auto* count_label = new QLabel("&Number of ports:", settings_group);
  count_label->setBuddy(port_count_);
  auto* packet_label = new QLabel("Packet Size:", settings_group);
  packet_label->setBuddy(packet_size_);
  auto* settings_layout = new QGridLayout(settings_group);
  settings_layout->addWidget(port_label, 0, 0);
  settings_layout->addWidget(port_index_, 0, 1);
  settings_layout->addWidget(count_label, 1, 0);
  settings_layout->addWidget(port_count_, 1, 1);
  settings_layout->addWidget(packet_label, 2, 0);
  settings_layout->addWidget(packet_size_, 2, 1);
  problems_ = {MakeProblemLabel(1000, settings_group), MakeProblemLabel(1022, settings_group),
               MakeProblemLabel(1003, settings_group), file_problem};
  fields_ = {port_index_, port_count_, packet_size_, file_};
  for (int row = 0; row < 3; ++row) settings_layout->addWidget(problems_[row], row, 2);

  auto* buttons = MakeOkCancelRow(this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mode_group);
  layout->addWidget(settings_group);
  layout->addLayout(buttons);

  // The file controls belong to the modes that send or compare a file.
  const bool uses_file = test.Mode != kLoopback;
  file_label_->setEnabled(uses_file);
  file_->setEnabled(uses_file);
  browse_->setEnabled(uses_file);
  if (test.Mode == kReceiveOnly || test.Mode == kTransmitOnly) {
    file_label_->setText(FileLabelText(test.Mode));
  }

  connect(mode_, &QComboBox::currentIndexChanged, this, &TestSettingsDialog::OnModeChanged);
  connect(browse_, &QPushButton::clicked, this, &TestSettingsDialog::ChooseFile);
}

void TestSettingsDialog::OnModeChanged(int position) {
  const bool uses_file = position != kLoopback;
  file_label_->setEnabled(uses_file);
  file_->setEnabled(uses_file);
  browse_->setEnabled(uses_file);
  if (uses_file) file_label_->setText(FileLabelText(position));
}

void TestSettingsDialog::ChooseFile() {
  QFileDialog chooser(this, "Send File", LastChosenFile(), "All files (*)");
  chooser.setObjectName("SendFileChooser");
  chooser.setFileMode(QFileDialog::ExistingFile);
  chooser.setAcceptMode(QFileDialog::AcceptOpen);
  if (!LastChosenFile().isEmpty()) chooser.selectFile(LastChosenFile());
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  LastChosenFile() = chooser.selectedFiles().first();
  file_->setText(LastChosenFile());
}

int TestSettingsDialog::SelectedMode() const {
  return mode_->findText(mode_->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void TestSettingsDialog::accept() {
  const TestDialogInput input{port_index_->Text().toStdString(), packet_size_->Text().toStdString(),
                              SelectedMode(), file_->text().toLocal8Bit().toStdString(),
                              port_count_->Text().toStdString()};
  if (!ShowFieldProblems(CheckTestDialog(input), problems_, fields_)) return;
  ApplyTestDialogOk(input, &values_);
  done(kDialogOk);
}

void TestSettingsDialog::reject() { done(kDialogCancel); }

}  // namespace quarnex
