// MainWindow: the tester's one window: menu, results table, status bar, and
// the commands that start, pause, continue and stop a run.
//
// The window is thin: the run itself belongs to the engine (run_controller),
// the texts to the report layer, the settings to the settings layer. The
// window keeps the menu in step with the run state, writes the log's start
// and stop records at the moments the commands call for, and on close
// saves the settings, writes the stop record of a run that is still going,
// stops the run and joins every worker thread before it goes.
//
// A log that cannot be opened or written shows a warning at the right end of
// the status bar ("No log: ..." or "Log not written: ..."), set once when
// the failure happens and kept until a start record is written whole.
//
// Everything here runs on the user-interface thread. Worker threads only
// reach the window's model (ResultsModel), which never makes them wait.
#ifndef QUARNEX_UI_MAIN_WINDOW_H_
#define QUARNEX_UI_MAIN_WINDOW_H_

#include <QAction>
#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "testapp/driver/serial_discovery.h"
#include "testapp/engine/run_context.h"
#include "testapp/report/log_file.h"
#include "testapp/settings/settings_store.h"
#include "testapp/ui/menu_state.h"
#include "testapp/ui/message_boxes.h"
#include "testapp/ui/metrics_setting.h"
#include "testapp/ui/notice_banner.h"
#include "testapp/ui/results_model.h"
#include "testapp/ui/results_table.h"
#include "testapp/ui/run_monitor.h"
#include "testapp/ui/throughput_plot.h"
#include "testapp/ui/window_metrics.h"

namespace quarnex {

inline constexpr char kWindowTitle[] = "ZVL Quarnex Tester";

// The window title for `mode`: Loopback, Receive only, Transmit only.
QString ModeTitle(int32_t mode);

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Creates the window at the loaded Geometry of the settings of `context`
  // with the status bar, the results table (their Columns), installs the
  // table and message boxes as the outputs of `context`, loads the settings
  // and the device map from `store` (into the context's devices) and clears the port
  // slots, opens the log in the current folder, and sets the Idle menu
  // state. `context` and `store` must outlive the window; every run the
  // window starts is made with `context`.
  MainWindow(RunContext& context, SettingsStore& store, QWidget* parent = nullptr);
  // Runs the close steps if the window was never closed.
  ~MainWindow() override;

  // Sets the title from Mode; a Mode other than 1 or 2 becomes 0 first.
  void UpdateTitle();

  // The action of command `id` (e.g. kIdStart), null for an unknown id.
  QAction* Action(int id) const;
  ResultsModel& Model() const { return *model_; }
  ResultsTable& Table() const { return *table_; }
  StatusBar& Status() const { return *status_bar_; }
  // What the last Start could not use (quarnex.cfg), if anything.
  const NoticeBanner& Banner() const { return *banner_; }
  const ThroughputPlot& Plot() const { return *plot_; }
  MenuState State() const { return state_; }
  bool RunActive() const { return run_active_; }
  bool LogOpen() const { return log_.IsOpen(); }
  // The TCP port the run's metrics are served on; 0 when none.
  int MetricsPort() const { return metrics_->Port(); }
  // Where the Port dialog looks for serial devices: the machine's /dev and
  // /sys unless a test points it at a fake tree.
  void SetSerialRoots(SerialRoots roots) { serial_roots_ = std::move(roots); }
  // Writes the table to `<base>.csv` and the run's summary to
  // `<base>.json` ("Save results..." without its file chooser); false with
  // the path and the reason in *error.
  bool SaveResultsTo(const QString& base, QString* error) const;

 public slots:
  void Start();
  void Pause();
  void Continue();
  void Stop();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateMenus();
  // The one place where actions meet their commands.
  void ConnectActions();
  void SetMenuState(MenuState state);
  // The one helper that writes the status bar (through the model, which
  // also takes the engine's status writes).
  void SetStatusText(int part, const char* text);
  // Sends a line request to every open port of the range, synchronously;
  // results are ignored. `answer` (may be null) receives a 1-byte reply.
  void SendLineRequest(uint32_t code, uint8_t* answer);
  // Asks every open port, then shows one box "<line> is high/low".
  void QueryLine(uint32_t code, const char* line);
  // The Port dialog; OK stores the device map and installs it for the
  // next Start.
  void OpenPortSettings();
  void OpenTestSettings();
  void OpenOptions();
  void OpenTimeouts();
  // Waits for a stopped run's workers to end before a dialog writes the
  // settings they read.
  void SettleStoppedRun();
  void OpenReceivedData();
  void OpenAbout();
  // "Save results...": a file chooser, then SaveResultsTo.
  void SaveResults();
  // Writes the stop record from counters taken while the workers still
  // run: told to end, a worker closes its port, and a closed port has no
  // block in the record. Call before StopRun. Returns the snapshot the
  // record was written from, for the rows.
  RunSnapshot LogStopRecord();
  // Shows a failure the log has not told yet; after a start record
  // (`start_record`) written whole, clears the warning instead.
  void ShowLogFailure(bool start_record);
  // The close steps: save, last stop record, stop, close the log and the
  // ports, join the workers. Runs once.
  void Shutdown();

  RunContext& context_;
  SettingsStore& store_;
  ResultsModel* model_;
  ResultsTable* table_;
  StatusBar* status_bar_;
  NoticeBanner* banner_;
  ThroughputPlot* plot_;
  RunMonitor* monitor_;
  // The Prometheus endpoint of Settings > Options.
  MetricsSetting metrics_setting_;
  WindowMetrics* metrics_;
  MessageBoxSink messages_;
  LogFile log_;
  std::map<int, QAction*> actions_;
  SerialRoots serial_roots_;
  MenuState state_ = MenuState::kIdle;
  bool run_active_ = false;
  bool shut_down_ = false;
  // The last run that started, for the saved results: its wall-clock start,
  // its steady start and end (ms; end 0 while it runs) and its messages.
  std::time_t run_started_at_ = 0;
  double run_start_ms_ = 0.0;
  double run_end_ms_ = 0.0;
  bool run_started_ = false;
  std::vector<std::string> start_messages_;
  // The counters the last stop record was written from (the ports open at
  // Stop), and every port of the snapshot it was written from.
  std::vector<PortCounters> stop_counters_;
  std::vector<PortCounters> stop_ports_;
};

// Program start after the command line: loads the window layout from
// `store` into the settings of `context`, creates the window on `context`,
// shows it and sets its title from Mode. Both must outlive the window.
std::unique_ptr<MainWindow> OpenMainWindow(RunContext& context, SettingsStore& store);

}  // namespace quarnex

#endif  // QUARNEX_UI_MAIN_WINDOW_H_
