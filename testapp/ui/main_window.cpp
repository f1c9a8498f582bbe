// MainWindow: menu, results table, status bar and the run commands.
#include "testapp/ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStringList>
#include <algorithm>
#include <optional>
#include <string>

#include "testapp/driver/control_codes.h"
#include "testapp/driver/device_map.h"
#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/port_table.h"
#include "testapp/engine/run_controller.h"
#include "testapp/platform/clock.h"
#include "testapp/report/row_text.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/configure_port.h"
#include "testapp/settings/device_map_store.h"
#include "testapp/settings/settings_io.h"
#include "testapp/settings/settings_state.h"
#include "testapp/ui/about_dialog.h"
#include "testapp/ui/app_icon.h"
#include "testapp/ui/dialog_rules.h"
#include "testapp/ui/metrics_setting.h"
#include "testapp/ui/options_dialog.h"
#include "testapp/ui/port_dialog.h"
#include "testapp/ui/received_data_dialog.h"
#include "testapp/ui/results_export.h"
#include "testapp/ui/test_settings_dialog.h"
#include "testapp/ui/throughput_plot.h"
#include "testapp/ui/timeouts_dialog.h"

namespace quarnex {
namespace {

// The status bar's log warning: the log's own failure text after one of
// these, for a log that never opened and for one that lost a record.
constexpr char kNoLogPrefix[] = "No log: ";
constexpr char kLogNotWrittenPrefix[] = "Log not written: ";

// The size the window gets when no size was stored.
constexpr int kDefaultWidth = 860;
constexpr int kDefaultHeight = 420;

// The menu, popups and items in order. Only the items with an accelerator
// get a shortcut: a "\t" in a text is a hint the menu shows, never a key.
struct MenuItemSpec {
  const char* popup;
  int id;
  const char* text;
  const char* accelerator;  // null: none
  bool separator_before;
};

constexpr MenuItemSpec kMenuItems[] = {
    {"&Settings", kIdPortSettings, "&Port...\tCtrl+P", "Ctrl+P", false},
    {"&Settings", kIdTestSettings, "&Test...\tCtrl+T", "Ctrl+T", false},
    {"&Settings", kIdOptions, "&Options\tCtrl+O", "Ctrl+O", false},
    {"&Settings", kIdTimeouts, "Time&outs...", nullptr, false},
    {"&Test", kIdStart, "&Start\tF5", "F5", false},
    {"&Test", kIdPause, "&Pause\tF6", "F6", false},
    {"&Test", kIdContinue, "&Continue\tF7", "F7", false},
    {"&Test", kIdStop, "S&top\tF8", "F8", false},
    {"&Test", kIdToggle, "&Toggle\tF9", nullptr, false},
    {"&Test", kIdSetRts, "Set RTS", nullptr, true},
    {"&Test", kIdClearRts, "Clear RTS", nullptr, false},
    {"&Test", kIdSetDtr, "Set DTR", nullptr, false},
    {"&Test", kIdClearDtr, "Clear DTR", nullptr, false},
    {"&Test", kIdGetDcd, "Get DCD", nullptr, false},
    {"&Test", kIdGetCts, "Get CTS", nullptr, false},
    {"&Test", kIdSaveResults, "Save &results...\tCtrl+S", "Ctrl+S", true},
    {"&Debug", kIdViewReceivedData, "&View received data", nullptr, false},
    {"&Help", kIdAbout, "&About", nullptr, false},
};

// What SaveSettings reads of the window. Left and Top are those of the
// area inside the frame, the same the window is restored to, so a window
// keeps its place across launches whatever frame the desktop draws.
class WindowLayout : public WindowLayoutSource {
 public:
  WindowLayout(const QWidget& window, const ResultsTable& table) : window_(window), table_(table) {}
  bool IsMinimized() const override { return window_.isMinimized(); }
  bool GetScreenRect(ScreenRect* rect) const override {
    const QRect g = window_.geometry();
    *rect = ScreenRect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
    return true;
  }
  uint32_t ColumnWidth(int column) const override { return table_.ColumnWidth(column); }

 private:
  const QWidget& window_;
  const ResultsTable& table_;
};

// Places `window` as stored; kUseDefault lets the window system choose the
// position, or gives the default size.
void ApplyGeometry(QWidget* window, const WindowGeometry& stored) {
  // A stored rectangle may come from another screen, or from a damaged
  // store: it is fitted to the screen it would appear on.
  WindowGeometry g = stored;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (g.Left != kUseDefault && g.Top != kUseDefault) {
    if (QScreen* at = QGuiApplication::screenAt(QPoint(g.Left, g.Top))) screen = at;
  }
  if (screen != nullptr) {
    const QRect area = screen->availableGeometry();
    g = FitWindowToScreen(g, ScreenRect{area.left(), area.top(), area.left() + area.width(),
                                        area.top() + area.height()});
  }
  QSize size(kDefaultWidth, kDefaultHeight);
  if (g.Width != kUseDefault && g.Height != kUseDefault) {
    size = QSize(g.Width, g.Height);
  } else if (screen != nullptr) {
    size = size.boundedTo(screen->availableGeometry().size());
  }
  if (g.Left != kUseDefault && g.Top != kUseDefault) {
    window->setGeometry(g.Left, g.Top, size.width(), size.height());
  } else {
    window->resize(size);
  }
}

}  // namespace

QString ModeTitle(int32_t mode) {
  const char* suffix = mode == kReceiveOnly    ? "Receive Only"
                       : mode == kTransmitOnly ? "Transmit Only"
                                               : "Quarnex";
  return QString("%1 -- %2").arg(kWindowTitle, suffix);
}

MainWindow::MainWindow(RunContext& context, SettingsStore& store, QWidget* parent)
    : QMainWindow(parent), context_(context), store_(store) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  setObjectName("MainWindow");
  setWindowTitle(kWindowTitle);
  setWindowIcon(AppIcon());
  ApplyGeometry(this, context_.settings.Geometry);

  // The status bar first: its part edges come from the client width now.
  status_bar_ = new StatusBar(width(), this);
  setStatusBar(status_bar_);
  banner_ = new NoticeBanner(this);
  addToolBar(Qt::TopToolBarArea, banner_);
  model_ = new ResultsModel(this);
  table_ = new ResultsTable(model_, context_.settings.Columns, this);
  setCentralWidget(table_);
  connect(model_, &ResultsModel::StatusTextChanged, status_bar_, &StatusBar::SetPartText);
  connect(model_, &ResultsModel::WholeRowSelectionRequested, table_,
          &ResultsTable::SelectWholeRows);
  monitor_ = new RunMonitor(context_, *model_, *table_, *status_bar_, this);
  // The live plot under the table, in a dock of its own: it can be floated
  // or moved beside the table, and the table keeps the central place.
  plot_ = new ThroughputPlot(this);
  auto* plot_dock = new QDockWidget("Throughput", this);
  plot_dock->setObjectName("PlotDock");
  plot_dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  plot_dock->setWidget(plot_);
  addDockWidget(Qt::BottomDockWidgetArea, plot_dock);
  // The table keeps the larger share of the window's height.
  resizeDocks({plot_dock}, {std::max(plot_->minimumSizeHint().height(), height() / 3)},
              Qt::Vertical);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, plot_,
          [this] { plot_->SetSelectedSlots(SelectedSlots(context_, *table_->selectionModel())); });
  context_.SetOutputs(model_, &messages_);

  LoadSettings(store_, &context_.settings);
  // Only read here: a mapped device that is not plugged in shows when a
  // Start cannot open it, or as missing in the Port dialog.
  context_.devices.SetMap(LoadDeviceMap(store_));
  metrics_setting_ = LoadMetricsSetting(store_);
  metrics_ = new WindowMetrics(
      context_, [this] { return RowNotesOf(*model_); }, this);
  ClearPortSlots(context_);
  log_.Open(kLogFileName);
  ShowLogFailure(false);

  CreateMenus();
  ConnectActions();
  SetMenuState(MenuState::kIdle);
  QApplication::restoreOverrideCursor();
}

MainWindow::~MainWindow() {
  Shutdown();
  context_.SetOutputs(nullptr, nullptr);
}

void MainWindow::CreateMenus() {
  std::map<QString, QMenu*> popups;
  for (const MenuItemSpec& item : kMenuItems) {
    QMenu*& popup = popups[item.popup];
    if (popup == nullptr) popup = menuBar()->addMenu(item.popup);
    if (item.separator_before) popup->addSeparator();
    QAction* action = popup->addAction(item.text);
    action->setObjectName(QString("action%1").arg(item.id));
    if (item.accelerator != nullptr) action->setShortcut(QKeySequence(item.accelerator));
    actions_[item.id] = action;
  }
}

void MainWindow::ConnectActions() {
  connect(Action(kIdPortSettings), &QAction::triggered, this, &MainWindow::OpenPortSettings);
  connect(Action(kIdTestSettings), &QAction::triggered, this, &MainWindow::OpenTestSettings);
  connect(Action(kIdOptions), &QAction::triggered, this, &MainWindow::OpenOptions);
  connect(Action(kIdTimeouts), &QAction::triggered, this, &MainWindow::OpenTimeouts);
  connect(Action(kIdStart), &QAction::triggered, this, &MainWindow::Start);
  connect(Action(kIdPause), &QAction::triggered, this, &MainWindow::Pause);
  connect(Action(kIdContinue), &QAction::triggered, this, &MainWindow::Continue);
  connect(Action(kIdStop), &QAction::triggered, this, &MainWindow::Stop);
  connect(Action(kIdSetRts), &QAction::triggered, this,
          [this] { SendLineRequest(kIoctlSetRts, nullptr); });
  connect(Action(kIdClearRts), &QAction::triggered, this,
          [this] { SendLineRequest(kIoctlClearRts, nullptr); });
  connect(Action(kIdSetDtr), &QAction::triggered, this,
          [this] { SendLineRequest(kIoctlSetDtr, nullptr); });
  connect(Action(kIdClearDtr), &QAction::triggered, this,
          [this] { SendLineRequest(kIoctlClearDtr, nullptr); });
  connect(Action(kIdGetDcd), &QAction::triggered, this, [this] { QueryLine(kIoctlGetDcd, "DCD"); });
  connect(Action(kIdGetCts), &QAction::triggered, this, [this] { QueryLine(kIoctlGetCts, "CTS"); });
  connect(Action(kIdViewReceivedData), &QAction::triggered, this, &MainWindow::OpenReceivedData);
  connect(Action(kIdAbout), &QAction::triggered, this, &MainWindow::OpenAbout);
  connect(Action(kIdSaveResults), &QAction::triggered, this, &MainWindow::SaveResults);
  // Toggle is disabled in every state and does nothing.
}

QAction* MainWindow::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::SetMenuState(MenuState state) {
  state_ = state;
  for (const auto& [id, action] : actions_) action->setEnabled(MenuItemEnabled(state, id));
}

void MainWindow::SetStatusText(int part, const char* text) { model_->SetStatus(part, text); }

void MainWindow::UpdateTitle() {
  int32_t& mode = context_.settings.Test.Mode;
  if (mode != kReceiveOnly && mode != kTransmitOnly) mode = kLoopback;
  setWindowTitle(ModeTitle(mode));
}

void MainWindow::Start() {
  // The messages of one Start come in one box, after it.
  messages_.BeginCollecting();
  const int row_resets = model_->RowResets();
  const bool started = StartRun(context_);
  // An endpoint that cannot be served is one more message of the Start.
  std::string metrics_error;
  if (started && !metrics_->RunStarted(metrics_setting_, &metrics_error)) {
    messages_.ShowError(metrics_error);
  }
  start_messages_ = messages_.Collected();
  messages_.ShowCollected();
  const std::optional<std::string> notice = messages_.TakeNotice();
  QStringList banner_lines;
  if (notice) banner_lines << QString::fromStdString(*notice + ". " + kEmptyConfigurationText);
  for (const std::string& warning : messages_.TakeWarnings()) {
    banner_lines << QString::fromStdString(warning);
  }
  banner_->SetText(banner_lines.join('\n'));
  if (!started) {
    // The rows of the ports that could not be opened say so, in red. A
    // Start that failed before its ports (a file that cannot be read)
    // leaves the last run's rows as they were.
    if (model_->RowResets() != row_resets) monitor_->RunNotStarted();
    return;
  }
  run_started_ = true;
  run_started_at_ = std::time(nullptr);
  run_start_ms_ = SteadyMilliseconds();
  run_end_ms_ = 0.0;
  stop_counters_.clear();
  stop_ports_.clear();
  Settings& s = context_.settings;
  SetMenuState(MenuState::kRunning);
  ReportRunStart(context_, log_, *model_);
  ShowLogFailure(true);
  // In Loopback each reader releases its own writer; a transmitter alone
  // needs the first release from here.
  StartTransmitters(context_);
  run_active_ = true;
  monitor_->RunStarted();
  plot_->Reset(s.Test.PortIndex, s.Test.PortCount, context_.run.ExpectedPacketTime.load(),
               PacketsPerJudgedPacket(s.Test.FileNameLength != 0, s.Test.FileSize, s.PacketSize));
  plot_->Follow([this] { return SnapshotOpenPorts(context_); });
}

void MainWindow::Pause() {
  PauseRun(context_);
  SetMenuState(MenuState::kPaused);
  SetStatusText(kStatusState, kStatusPaused);
}

void MainWindow::Continue() {
  ContinueRun(context_);
  SetMenuState(MenuState::kRunning);
  SetStatusText(kStatusState, kStatusRunning);
}

void MainWindow::Stop() {
  run_end_ms_ = SteadyMilliseconds();
  // From here on the rows are the window's: a cell a worker writes after
  // the snapshot (the packet the Stop cuts short, a line error) would say
  // what the snapshot does not hold.
  model_->HoldWorkerCells();
  const RunSnapshot final_counts = LogStopRecord();
  metrics_->RunStopped(stop_counters_);
  plot_->StopFollowing();
  StopRun(context_);
  monitor_->RunStopped(final_counts);
  SetMenuState(MenuState::kStopped);
  SetStatusText(kStatusState, kStatusStopped);
  run_active_ = false;
}

RunSnapshot MainWindow::LogStopRecord() {
  RunSnapshot snapshot = TakeRunSnapshot(context_, 0.0);  // the monitor keeps the time
  stop_counters_ = StopRecordPorts(snapshot);
  stop_ports_.clear();
  for (const PortSnapshot& port : snapshot.Ports) stop_ports_.push_back(port.Counters);
  if (log_.IsOpen()) WriteStopRecord(log_, stop_counters_);
  ShowLogFailure(false);
  return snapshot;
}

void MainWindow::ShowLogFailure(bool start_record) {
  if (std::optional<std::string> failure = log_.TakeFailure()) {
    const char* prefix = log_.IsOpen() ? kLogNotWrittenPrefix : kNoLogPrefix;
    status_bar_->SetLogWarning(QString::fromStdString(prefix + *failure));
  } else if (start_record && log_.IsOpen() && !log_.LastRecordFailed()) {
    status_bar_->SetLogWarning(QString());
  }
}

void MainWindow::SendLineRequest(uint32_t code, uint8_t* answer) {
  for (int i = 0; i < context_.SlotsInRange(); ++i) {
    PortContext& port = context_.run.Ports[i];
    if (!port.InUse.load()) continue;
    // The device object lives until the slot is re-initialised on this
    // thread, so it stays valid even if a worker closes it meanwhile.
    Device* device = port.Device.load();
    if (device == nullptr) continue;
    device->Control(code, nullptr, 0, answer, answer != nullptr ? 1 : 0, nullptr);
  }
}

void MainWindow::QueryLine(uint32_t code, const char* line) {
  // Every port answers into the same byte, so the box tells the last one.
  uint8_t state = 0;
  SendLineRequest(code, &state);
  ShowMessage(line, QString("%1 is %2").arg(line, state != 0 ? "high" : "low"));
}

void MainWindow::OpenPortSettings() {
  const Settings& s = context_.settings;
  PortDialogFacts facts;
  facts.found = context_.devices.List(serial_roots_);
  facts.line = ReadLineSummary(kConfigFileName);
  PortDialog dialog({s.Test.PortIndex, s.Test.PortCount, context_.devices.Map()}, facts, this);
  if (dialog.exec() != kDialogOk) return;
  // Stored at once, as the map is no part of the records that closing saves.
  SaveDeviceMap(store_, dialog.Values().Map);
  context_.devices.SetMap(dialog.Values().Map);
}

void MainWindow::OpenTestSettings() {
  Settings& s = context_.settings;
  TestSettingsDialog dialog({s.Test, s.PacketSize}, this);
  // Cancel changes nothing, the number of ports included.
  if (dialog.exec() != kDialogOk) return;
  SettleStoppedRun();
  s.Test = dialog.Values().Test;
  s.PacketSize = dialog.Values().PacketSize;
  UpdateTitle();
}

bool MainWindow::SaveResultsTo(const QString& base, QString* error) const {
  WindowRun run;
  run.started_at = run_started_ ? run_started_at_ : std::time(nullptr);
  run.running = run_active_;
  run.configured = run_started_;
  if (run_started_) {
    const double end_ms = run_end_ms_ > 0.0 ? run_end_ms_ : SteadyMilliseconds();
    run.elapsed_s = (end_ms - run_start_ms_) / 1000.0;
  }
  if (log_.IsOpen()) run.log_path = kLogFileName;
  run.messages = start_messages_;
  // A stopped run is saved as its stop record has it.
  if (run_started_ && !run_active_) run.stop_counters = stop_ports_;
  return quarnex::SaveResults(base, *model_, run, context_, error);
}

void MainWindow::SaveResults() {
  QFileDialog chooser(this, "Save results", QString(), "Results (*.csv *.json)");
  chooser.setObjectName("SaveResultsChooser");
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.selectFile("results");
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  QString error;
  if (!SaveResultsTo(chooser.selectedFiles().first(), &error)) {
    ShowMessage(kErrorCaption, "Cannot save the results:\n" + error);
  }
}

void MainWindow::OpenOptions() {
  OptionsDialog dialog(context_.settings.Test, metrics_setting_, this);
  if (dialog.exec() != kDialogOk) return;
  SettleStoppedRun();
  context_.settings.Test = dialog.Values();
  // Stored at once, as it is no part of the records that closing saves.
  metrics_setting_ = dialog.Metrics();
  SaveMetricsSetting(store_, metrics_setting_);
  if (!metrics_setting_.serve) metrics_->Close();
}

void MainWindow::OpenTimeouts() {
  TimeoutsDialog dialog(context_.settings.Timeouts, this);
  if (dialog.exec() != kDialogOk) return;
  SettleStoppedRun();
  context_.settings.Timeouts = dialog.Values();
}

void MainWindow::SettleStoppedRun() {
  // The dialogs open only when no run is going, but after Stop the workers
  // may still be winding down, reading the settings the dialog is about to
  // write: their end is waited for first. No worker waits for this thread,
  // so the join cannot deadlock; Start would do the same join anyway.
  JoinAllPorts(context_);
}

void MainWindow::OpenReceivedData() {
  ReceivedDataDialog dialog(TakeReceivedSnapshot(context_.run.Ports[0]),
                            FirstMismatchSnapshot(context_.run.Ports[0]), this);
  dialog.exec();
}

void MainWindow::OpenAbout() {
  AboutDialog dialog(this);
  dialog.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  Shutdown();
  event->accept();
}

void MainWindow::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  SaveSettings(store_, context_.settings, WindowLayout(*this, *table_));
  // As Stop does: the record first, while every open port is still open.
  if (run_active_) LogStopRecord();
  plot_->StopFollowing();
  metrics_->Close();
  StopRun(context_);
  log_.Close();
  run_active_ = false;
  CloseAllPorts(context_);
  // No worker waits for this thread, so the join cannot deadlock; after it
  // nothing writes to the model any more.
  JoinAllPorts(context_);
}

std::unique_ptr<MainWindow> OpenMainWindow(RunContext& context, SettingsStore& store) {
  Settings& s = context.settings;
  LoadWindowLayout(store, &s.Geometry, &s.Columns);
  auto window = std::make_unique<MainWindow>(context, store);
  window->show();
  window->UpdateTitle();
  return window;
}

}  // namespace quarnex
