// PortDialog: which device each port of the test range opens.
#include "testapp/ui/port_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>

#include "testapp/report/row_text.h"
#include "testapp/ui/dialog_widgets.h"

namespace quarnex {
namespace {

enum PortColumn { kColumnPortName, kColumnDevice, kColumnLoopback, kColumns };

// Wide enough for most by-id names with their node; longer ones scroll in
// the field.
constexpr int kDeviceFieldCharacters = 60;
// Room around a cell's text, for the port names' column.
constexpr int kCellPadding = 12;
// Rows shown before the table scrolls.
constexpr int kRowsShown = 12;

constexpr char kDeviceTip[] =
    "The device this port opens at the next Start: the simulated adapter, a\n"
    "serial device found on this machine (a /dev/serial/by-id name keeps\n"
    "the port when adapters are plugged in another order), or any path you\n"
    "type, e.g. a pseudo-terminal /dev/pts/3.";
constexpr char kLoopbackTip[] =
    "The UART sends what it transmits back to itself, so the port is tested\n"
    "without a plug. Where the port's driver does not offer it (a pseudo-\n"
    "terminal, for one) Start fails for the port and says so.";
constexpr char kHintText[] =
    "Ports on the simulated adapter are not stored. A device that is not there "
    "now shows as (missing); its entry is kept.";

QString LineText(const LineSummary& line) {
  const QString summary = QString::fromStdString(LineSummaryText(line));
  if (line.file_read) return summary;
  return QString::fromStdString(line.problem) + "; the run uses an empty configuration:\n" +
         summary;
}

}  // namespace

PortDialog::PortDialog(const PortDialogValues& values, const PortDialogFacts& facts,
                       QWidget* parent)
    : QDialog(parent),
      values_(values),
      ports_(ListedPorts(values.PortIndex, values.PortCount)),
      choices_(DeviceChoices(facts.found, values.Map, ports_, facts.present)) {
  setWindowTitle("Port Settings");
  setObjectName("PortDialog");

  auto* line_group = new QGroupBox("Line settings of the next Start (quarnex.cfg)", this);
  auto* line_label = new QLabel(LineText(facts.line), line_group);
  line_label->setObjectName("lineSettings");
  line_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* line_layout = new QVBoxLayout(line_group);
  line_layout->addWidget(line_label);

  table_ = new QTableWidget(static_cast<int>(ports_.size()), kColumns, this);
  table_->setObjectName("portTable");
  table_->setHorizontalHeaderLabels({"Port", "Device", "Internal loopback"});
  table_->verticalHeader()->hide();
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setFocusPolicy(Qt::NoFocus);
  for (int row = 0; row < table_->rowCount(); ++row) {
    AddRow(row, FindDeviceEntry(values_.Map, ports_[static_cast<size_t>(row)]));
  }
  FitTable();

  problems_ = new QLabel(this);
  problems_->setObjectName("problems");
  problems_->setStyleSheet("color: #b00020;");
  problems_->hide();

  auto* hint = new QLabel(kHintText, this);
  hint->setWordWrap(true);

  auto* buttons = MakeOkCancelRow(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(line_group);
  layout->addWidget(table_, 1);
  layout->addWidget(problems_);
  layout->addWidget(hint);
  layout->addLayout(buttons);
}

void PortDialog::AddRow(int row, const DeviceMapEntry* entry) {
  const int port = ports_[static_cast<size_t>(row)];
  auto* name = new QTableWidgetItem(QString::fromStdString(PortLabel(port)));
  table_->setItem(row, kColumnPortName, name);

  auto* device = new QComboBox(table_);
  device->setObjectName(QString("device%1").arg(port));
  device->setEditable(true);
  device->setInsertPolicy(QComboBox::NoInsert);
  device->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  device->setMinimumContentsLength(kDeviceFieldCharacters);
  device->setToolTip(kDeviceTip);
  for (const DeviceChoice& choice : choices_) {
    device->addItem(QString::fromStdString(choice.text));
    device->setItemData(device->count() - 1, QString::fromStdString(choice.tip), Qt::ToolTipRole);
  }
  device->setCurrentIndex(ChoiceOf(choices_, entry));
  // A by-id name says most at its start, which a long text scrolls away.
  device->lineEdit()->setCursorPosition(0);
  connect(device, &QComboBox::currentIndexChanged, device,
          [device] { device->lineEdit()->setCursorPosition(0); });
  table_->setCellWidget(row, kColumnDevice, device);

  // A check box alone in its cell, centred under the column's title.
  auto* cell = new QWidget(table_);
  auto* loop = new QCheckBox(cell);
  loop->setObjectName(QString("loop%1").arg(port));
  loop->setToolTip(kLoopbackTip);
  loop->setChecked(entry != nullptr && entry->internal_loopback);
  auto* cell_layout = new QHBoxLayout(cell);
  cell_layout->setContentsMargins(0, 0, 0, 0);
  cell_layout->setAlignment(Qt::AlignCenter);
  cell_layout->addWidget(loop);
  table_->setCellWidget(row, kColumnLoopback, cell);

  devices_.push_back(device);
  loops_.push_back(loop);
  FollowDevice(row);
  connect(device, &QComboBox::editTextChanged, this, [this, row] { FollowDevice(row); });
}

void PortDialog::FitTable() {
  QHeaderView* header = table_->horizontalHeader();
  header->setSectionResizeMode(kColumnPortName, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(kColumnDevice, QHeaderView::Stretch);
  header->setSectionResizeMode(kColumnLoopback, QHeaderView::ResizeToContents);
  table_->resizeRowsToContents();
  // A stretched column takes what is left, so the table asks for room for
  // the whole device field; and for a few rows before it scrolls.
  const int frame = 2 * table_->frameWidth();
  const QString longest_name =
      ports_.empty() ? QString() : QString::fromStdString(PortLabel(ports_.back()));
  const int name_width = table_->fontMetrics().horizontalAdvance(longest_name) + kCellPadding;
  const int device_width = devices_.empty() ? 0 : devices_.front()->sizeHint().width();
  table_->setMinimumWidth(frame + std::max(name_width, header->sectionSizeHint(kColumnPortName)) +
                          device_width + header->sectionSizeHint(kColumnLoopback) +
                          table_->verticalScrollBar()->sizeHint().width());
  const int row_height = table_->rowCount() > 0 ? table_->rowHeight(0) : 0;
  table_->setMinimumHeight(frame + header->sizeHint().height() +
                           row_height * std::min(table_->rowCount(), kRowsShown));
  // A short range leaves no empty rows below its own.
  if (table_->rowCount() <= kRowsShown) table_->setMaximumHeight(table_->minimumHeight());
}

void PortDialog::FollowDevice(int row) {
  const size_t i = static_cast<size_t>(row);
  const bool simulated =
      ChoicePath(choices_, devices_[i]->currentText().toStdString()) == kSimulatedDevicePath;
  if (simulated) loops_[i]->setChecked(false);
  loops_[i]->setEnabled(!simulated);
}

std::vector<PortRowInput> PortDialog::ReadRows() const {
  std::vector<PortRowInput> rows;
  for (size_t i = 0; i < ports_.size(); ++i) {
    rows.push_back({ports_[i], ChoicePath(choices_, devices_[i]->currentText().toStdString()),
                    loops_[i]->isChecked()});
  }
  return rows;
}

void PortDialog::accept() {
  const std::vector<PortRowInput> rows = ReadRows();
  const std::vector<FieldProblem> problems = CheckPortRows(rows);
  QStringList lines;
  for (const FieldProblem& problem : problems) {
    const size_t row = static_cast<size_t>(problem.field);
    lines << QString::fromStdString(PortLabel(ports_[row]) + ": " + problem.text);
  }
  problems_->setText(lines.join('\n'));
  problems_->setVisible(!problems.empty());
  if (!problems.empty()) {
    const int first = problems.front().field;
    table_->scrollTo(table_->model()->index(first, kColumnDevice));
    devices_[static_cast<size_t>(first)]->setFocus();
    return;
  }
  ApplyPortDialogOk(rows, &values_.Map);
  done(kDialogOk);
}

void PortDialog::reject() { done(kDialogCancel); }

}  // namespace quarnex
