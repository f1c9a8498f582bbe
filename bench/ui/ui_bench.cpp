// The window under load: does the user-interface thread stay responsive,
// and does the engine keep its pace, while 128 fast lines refresh their rows
// after every packet?
//
// Each round runs the same Loopback test twice: once through the real main
// window (its Start, its results model and table, painted by Qt) and once
// headless through the recording view (history off), both on 128 unpaced
// ports of the simulated adapter (no BitRate in quarnex.cfg), small packets,
// and "Update screen every" 0 ms, so every packet rewrites its row. On both
// sides, from the moment Start has returned, a precise QTimer on the
// user-interface thread ticks at a fixed period and records how much later
// than one period after the tick before each tick comes.
//
// Prints "name: value" lines:
//   ui_timer_max_late_ms         the latest tick of any window run (the
//                                worst over all rounds: the window must never
//                                freeze)
//   ui_timer_p99_late_ms         the 99th percentile of the ticks' lateness
//                                (median over the rounds)
//   recording_timer_max_late_ms  the same as the first during the headless
//                                runs: what the machine's scheduler alone
//                                costs a thread that only ticks
//   ui_packets_per_s             median packet rates, all ports together,
//   recording_packets_per_s      from one second after the start to the end
//   ui_vs_recording_pct          median over the rounds of each round's
//                                ratio of the two
//   ui_repaints_per_s            dataChanged signals and paint events of the
//   ui_paints_per_s              table per second (medians): how well the
//                                model coalesces the writes
//   ui_thread_cpu_pct            the user-interface thread's CPU time and its
//   ui_thread_queued_pct         time runnable but waiting for a core, as
//                                percentages of the window runs' time
//                                (medians): a thread that is always queued
//                                is starved by the workers, not busy
//
// The two sides alternate (window first in even rounds, headless first in
// odd ones) and the figures are medians, so load from elsewhere on a shared
// machine falls on both sides alike.
//
// With --plot-ports=N, each round has a third run: the window again, with a
// live throughput plot (ThroughputPlot) beside it, fed from the engine's
// counters on its own timer as the window would feed it, with N ports (0 to
// 16) drawn besides all ports. The three runs take turns at going first.
// It adds:
//   plot_timer_max_late_ms       the window's figures above, with the plot
//   plot_timer_p99_late_ms
//   plot_packets_per_s
//   plot_vs_recording_pct
//   plot_thread_cpu_pct
//   ui_plot_paints_per_s         the plot's paint events per second
//   ui_plot_paint_mean_ms        the time of one, mean and longest over all
//   ui_plot_paint_max_ms         rounds: how long it held the thread, time
//                                spent waiting for a core included
//   ui_plot_paint_cpu_mean_ms    the same in the thread's CPU time: what a
//   ui_plot_paint_cpu_max_ms     paint costs
//   ui_plot_points               the points of its "All ports" series at the
//                                end of a run (median)
//   plot_sample_us               one sample of 128 ports' counters added to
//                                the plot, mean over a long run's worth
//   plot_full_paint_ms           one paint of the plot once its series are
//                                full (a long run: 128 ports, every series at
//                                its bound), median of 20, without a run, on
//                                the worst data: every port swinging between
//                                nothing and its full rate from one sample to
//                                the next, with errors in every sample
//
// Runs in a temporary folder of its own (quarnex.cfg and the window's log
// go there; settings live in a memory store). Uses the offscreen platform
// when no display is set. Options: --seconds=N length of each run (default
// 10), --rounds=N (default 3), --packet-size=N (default 64),
// --period-ms=N timer period (default 10). For diagnosis, --worker-nice=N
// lowers every other thread of the process to nice N once a run has started
// (on both sides): how the figures change when the workers no longer share
// the cores with this thread as equals. The program itself does not do that.
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "bench/bench_util.h"
#include "bench/full_adapter.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/platform/clock.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/memory_store.h"
#include "testapp/settings/settings_io.h"
#include "testapp/settings/settings_state.h"
#include "testapp/ui/main_window.h"
#include "testapp/ui/throughput_plot.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {
namespace {

namespace fs = std::filesystem;

// Opening 128 ports and the first packets are not what is measured.
constexpr double kWarmUpMs = 1000;

struct BenchOptions {
  double seconds = 10;
  int rounds = 3;
  int packet_size = 64;
  int period_ms = 10;
  int worker_nice = 0;  // 0: leave the threads as the engine made them
  int plot_ports = -1;  // -1: no plot
};

struct Measurement {
  double packets_per_s = 0;
  double timer_max_late_ms = 0;
  double timer_max_late_at_ms = 0;  // when that tick was due, ms into the run
  double timer_p99_late_ms = 0;
  // Window runs only:
  double repaints_per_s = 0;
  double paints_per_s = 0;
  double thread_cpu_pct = 0;
  double thread_queued_pct = 0;
  // With the plot:
  double plot_paints_per_s = 0;
  std::vector<double> plot_paint_ms;
  std::vector<double> plot_paint_cpu_ms;
  double plot_points = 0;
};

// The calling thread's time on a core and its time runnable but waiting for
// one, ms, from the kernel's scheduler statistics.
struct SchedTimes {
  double running_ms = 0;
  double queued_ms = 0;
};

SchedTimes ThreadSchedTimes() {
  std::ifstream in("/proc/thread-self/schedstat");
  double running_ns = 0;
  double queued_ns = 0;
  in >> running_ns >> queued_ns;
  return {running_ns / 1e6, queued_ns / 1e6};
}

// The bench's settings over whatever LoadSettings gave (the defaults of an
// empty store), the same on both sides.
void ApplyBenchSettings(const BenchOptions& o, Settings& s) {
  s.Test.Mode = kLoopback;
  s.Test.PortIndex = 1;
  s.Test.PortCount = kBenchPorts;
  s.Test.UpdateInterval = 0;
  s.PacketSize = o.packet_size;
}

// Ticks at a fixed period on the thread that makes it and keeps every
// tick's delay past its due time (one period after the tick before).
class LatenessProbe {
 public:
  explicit LatenessProbe(int period_ms) : period_ms_(period_ms) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  }
  void Start() {
    last_ms_ = SteadyMilliseconds();
    start_ms_ = last_ms_;
    late_ms_.clear();
    timer_.start(period_ms_);
  }
  void Stop() {
    timer_.stop();
    // A tick that is overdue right now counts too.
    Record(SteadyMilliseconds());
  }
  double MaxLateMs() const {
    return late_ms_.empty() ? 0 : *std::max_element(late_ms_.begin(), late_ms_.end());
  }
  // When the latest tick was due, ms after Start.
  double MaxLateAtMs() const { return max_late_at_ms_; }
  double P99LateMs() const {
    if (late_ms_.empty()) return 0;
    std::vector<double> sorted = late_ms_;
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<size_t>(std::floor(0.99 * static_cast<double>(sorted.size() - 1)))];
  }

 private:
  void Tick() {
    const double now = SteadyMilliseconds();
    Record(now);
    last_ms_ = now;
  }
  void Record(double now) {
    const double late = std::max(0.0, now - last_ms_ - period_ms_);
    if (late > MaxLateMs()) max_late_at_ms_ = last_ms_ + period_ms_ - start_ms_;
    late_ms_.push_back(late);
  }

  const int period_ms_;
  QTimer timer_;
  double last_ms_ = 0;
  double start_ms_ = 0;
  double max_late_at_ms_ = 0;
  std::vector<double> late_ms_;
};

// Counts the paint events of a widget.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
  long long paints = 0;
};

// The calling thread's CPU time, ms.
double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The plot, timing each of its paints.
class TimedPlot : public ThroughputPlot {
 public:
  std::vector<double> paint_ms;
  std::vector<double> paint_cpu_ms;

 protected:
  void paintEvent(QPaintEvent* event) override {
    const double start = SteadyMilliseconds();
    const double start_cpu = ThreadCpuMs();
    ThroughputPlot::paintEvent(event);
    paint_cpu_ms.push_back(ThreadCpuMs() - start_cpu);
    paint_ms.push_back(SteadyMilliseconds() - start);
  }
};

// Runs this thread's event loop for `ms` milliseconds.
void RunEventsFor(double ms) {
  QEventLoop loop;
  QTimer::singleShot(std::max(0, static_cast<int>(ms)), Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

// Sets every thread of the process but the calling one to `nice`.
void ReniceOtherThreads(int nice) {
  const std::string self = std::to_string(gettid());
  for (const fs::directory_entry& task : fs::directory_iterator("/proc/self/task")) {
    const std::string tid = task.path().filename().string();
    if (tid != self) setpriority(PRIO_PROCESS, static_cast<id_t>(std::stoi(tid)), nice);
  }
}

// The timed part of a run that has just started: the probe ticks for the
// whole run, the packets count from the end of the warm-up. Returns packets
// per second; the run is still going when it returns.
double TimeRun(const RunContext& context, const BenchOptions& o, LatenessProbe& probe,
               double start_ms) {
  RunEventsFor(start_ms + kWarmUpMs - SteadyMilliseconds());
  const double first_ms = SteadyMilliseconds();
  const long long first = TotalPackets(context);
  RunEventsFor(start_ms + o.seconds * 1000 - SteadyMilliseconds());
  const double last_ms = SteadyMilliseconds();
  const long long last = TotalPackets(context);
  probe.Stop();
  return (last - first) / ((last_ms - first_ms) / 1000.0);
}

struct FullPlotCost {
  double sample_us = 0;
  double paint_ms = 0;
};

// The paint of a plot whose every series holds as many points as it ever
// will, with `shown` ports drawn: the cost of a repaint late in a long run;
// and what each sample on the way there cost.
FullPlotCost FullPlotCosts(int shown) {
  TimedPlot plot;
  plot.resize(plot.sizeHint());
  plot.show();
  plot.Reset(1, kBenchPorts, /*expected_packet_ms=*/10.0, 1.0);
  std::vector<PortCounters> ports(kBenchPorts);
  const size_t samples = 2 * RunSeries::kDefaultMaxPoints;
  double sampling_ms = 0;
  for (size_t i = 1; i <= samples; ++i) {
    for (int p = 0; p < kBenchPorts; ++p) {
      PortCounters& c = ports[static_cast<size_t>(p)];
      c.PortNumber = 1 + p;
      // Two samples make a point once the series are full: the swing
      // outlasts their merging.
      const int64_t good = ((i - 1) / 2 + static_cast<size_t>(p)) % 2 == 0 ? 50 : 0;
      c.PacketCount += good + 1;
      c.GoodPacketCount += good;
      c.TotalPacketTime += static_cast<double>(good) * 10.0;
      ++c.ErrorCount;
    }
    const double start = SteadyMilliseconds();
    plot.Sample(0.5 * static_cast<double>(i), ports);
    sampling_ms += SteadyMilliseconds() - start;
  }
  std::vector<int> wanted;
  for (int i = 0; i < shown; ++i) wanted.push_back(i);
  plot.SetSelectedSlots(wanted);
  // A widget paints only once the window system shows it.
  RunEventsFor(100);
  plot.paint_ms.clear();
  for (int i = 0; i < 20; ++i) plot.repaint();
  return {sampling_ms * 1000 / static_cast<double>(samples), Median(plot.paint_ms)};
}

// The run through the main window: its Start, its model, its table, and the
// plot beside it when `with_plot`.
Measurement WindowRun(const BenchOptions& o, bool with_plot) {
  MemoryStore store;
  // The run's own context, on the heap (RunState holds 128 slots); it
  // outlives everything below that reaches it.
  const auto owned_context = std::make_unique<RunContext>();
  RunContext& context = *owned_context;
  context.devices.SetBackends(StandardBackends());
  std::unique_ptr<MainWindow> window = OpenMainWindow(context, store);
  ApplyBenchSettings(o, context.settings);
  long long repaints = 0;
  QObject::connect(&window->Model(), &QAbstractItemModel::dataChanged, [&repaints] { ++repaints; });
  PaintCounter paints;
  window->Table().viewport()->installEventFilter(&paints);
  std::unique_ptr<TimedPlot> plot;
  if (with_plot) {
    plot = std::make_unique<TimedPlot>();
    plot->resize(plot->sizeHint());
    plot->show();
  }
  // Let the window show itself before the run starts.
  RunEventsFor(100);

  LatenessProbe probe(o.period_ms);
  const double start_ms = SteadyMilliseconds();
  window->Start();
  if (!window->RunActive()) {
    std::fprintf(stderr, "ui_bench: the window's run did not start\n");
    std::exit(1);
  }
  if (plot) {
    // As the window would at its Start: the run's figures, the selected
    // rows, then samples on the plot's timer.
    plot->Reset(context.settings.Test.PortIndex, context.SlotsInRange(),
                context.run.ExpectedPacketTime.load(), 1.0);
    std::vector<int> shown;
    for (int i = 0; i < o.plot_ports; ++i) shown.push_back(i);
    plot->SetSelectedSlots(shown);
    plot->Follow([&context] { return SnapshotOpenPorts(context); });
    plot->paint_ms.clear();
    plot->paint_cpu_ms.clear();
  }
  // Start itself opens the ports on this thread; the probe watches the run.
  if (o.worker_nice != 0) ReniceOtherThreads(o.worker_nice);
  probe.Start();
  const long long repaints_before = repaints;
  const long long paints_before = paints.paints;
  const double ticking_ms = SteadyMilliseconds();
  const SchedTimes sched_before = ThreadSchedTimes();
  Measurement m;
  m.packets_per_s = TimeRun(context, o, probe, start_ms);
  const SchedTimes sched_after = ThreadSchedTimes();
  const double ticked_ms = SteadyMilliseconds() - ticking_ms;
  m.timer_max_late_ms = probe.MaxLateMs();
  m.timer_max_late_at_ms = probe.MaxLateAtMs();
  m.timer_p99_late_ms = probe.P99LateMs();
  m.repaints_per_s = (repaints - repaints_before) / (ticked_ms / 1000.0);
  m.paints_per_s = (paints.paints - paints_before) / (ticked_ms / 1000.0);
  m.thread_cpu_pct = 100.0 * (sched_after.running_ms - sched_before.running_ms) / ticked_ms;
  m.thread_queued_pct = 100.0 * (sched_after.queued_ms - sched_before.queued_ms) / ticked_ms;

  // Every row must have been refreshed through the window's model.
  for (int i = 0; i < kBenchPorts; ++i) {
    if (window->Model()
            .Text(context.run.Ports[static_cast<size_t>(i)].Row, kColumnPackets)
            .empty()) {
      std::fprintf(stderr, "ui_bench: row %d never showed a packet count\n", i);
      std::exit(1);
    }
  }
  window->Table().viewport()->removeEventFilter(&paints);
  if (plot) {
    m.plot_paints_per_s = static_cast<double>(plot->paint_ms.size()) / (ticked_ms / 1000.0);
    m.plot_paint_ms = plot->paint_ms;
    m.plot_paint_cpu_ms = plot->paint_cpu_ms;
    m.plot_points = static_cast<double>(plot->Series().AllPorts().Size());
    plot->StopFollowing();
  }
  window->Stop();
  // Closing joins every worker, so nothing writes to the model any more.
  window.reset();
  return m;
}

// The same run headless through the recording view; the probe ticks on an
// otherwise idle event loop.
Measurement RecordingRun(const BenchOptions& o) {
  MemoryStore store;
  // The run's own context, on the heap (RunState holds 128 slots); it
  // outlives everything below that reaches it.
  const auto owned_context = std::make_unique<RunContext>();
  RunContext& context = *owned_context;
  context.devices.SetBackends(StandardBackends());
  LoadSettings(store, &context.settings);
  ApplyBenchSettings(o, context.settings);
  RecordingView view(/*keep_history=*/false);
  context.SetOutputs(&view, &view);

  LatenessProbe probe(o.period_ms);
  const double start_ms = SteadyMilliseconds();
  if (!StartHeadlessRun(context)) {
    std::fprintf(stderr, "ui_bench: the recording run did not start\n");
    std::exit(1);
  }
  if (o.worker_nice != 0) ReniceOtherThreads(o.worker_nice);
  probe.Start();
  Measurement m;
  m.packets_per_s = TimeRun(context, o, probe, start_ms);
  m.timer_max_late_ms = probe.MaxLateMs();
  m.timer_max_late_at_ms = probe.MaxLateAtMs();
  m.timer_p99_late_ms = probe.P99LateMs();
  StopHeadlessRun(context);
  return m;
}

// The offscreen platform warns on every window it shows that it cannot
// pass size hints on; everything else goes to Qt's own handler.
QtMessageHandler qt_handler = nullptr;
void DropOffscreenNoise(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.contains(QLatin1String("does not support propagateSizeHints"))) return;
  qt_handler(type, context, text);
}

BenchOptions ParseOptions(int argc, char** argv) {
  BenchOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&arg](const char* prefix) { return OptionValue(arg, prefix); };
    if (const char* v = value("--seconds=")) {
      o.seconds = std::atof(v);
    } else if (const char* v = value("--rounds=")) {
      o.rounds = std::atoi(v);
    } else if (const char* v = value("--packet-size=")) {
      o.packet_size = std::atoi(v);
    } else if (const char* v = value("--period-ms=")) {
      o.period_ms = std::atoi(v);
    } else if (const char* v = value("--worker-nice=")) {
      o.worker_nice = std::atoi(v);
    } else if (const char* v = value("--plot-ports=")) {
      o.plot_ports = std::atoi(v);
    } else {
      std::fprintf(stderr, "ui_bench: unknown option %s\n", arg.c_str());
      std::exit(2);
    }
  }
  if (o.seconds * 1000 <= kWarmUpMs * 2 || o.rounds < 1 || o.packet_size < 1 ||
      o.packet_size > kMaxPacketSize || o.period_ms < 1 || o.plot_ports < -1 ||
      o.plot_ports > ThroughputPlot::kMaxShownPorts) {
    std::fprintf(stderr,
                 "ui_bench: need --seconds above %g, --rounds of 1 or more, --packet-size from 1 "
                 "to %d, --period-ms of 1 or more and --plot-ports from 0 to %d\n",
                 kWarmUpMs * 2 / 1000, kMaxPacketSize, ThroughputPlot::kMaxShownPorts);
    std::exit(2);
  }
  return o;
}

int Main(int argc, char** argv) {
  const BenchOptions o = ParseOptions(argc, argv);
  std::string templ = (fs::temp_directory_path() / "ui-bench-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) return 1;
  const fs::path dir = templ;
  const fs::path old_dir = fs::current_path();
  std::ofstream(dir / "quarnex.cfg") << kUnpacedConfig;
  fs::current_path(dir);
  SimConfigureText(kBenchSim);

  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  }
  // Nothing of Qt's may reach the user's own folders.
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  qt_handler = qInstallMessageHandler(DropOffscreenNoise);
  int qt_argc = 1;
  QApplication app(qt_argc, argv);

  std::vector<double> ui_rate, recording_rate, ratios, repaints, paints, p99, cpu, queued;
  std::vector<double> plot_paints, plot_paint_ms, plot_paint_cpu_ms, plot_points;
  std::vector<double> plot_rate, plot_ratios, plot_p99, plot_cpu;
  double ui_max_late = 0;
  double recording_max_late = 0;
  double plot_max_late = 0;
  const bool with_plot = o.plot_ports >= 0;
  for (int round = 0; round < o.rounds; ++round) {
    Measurement ui;
    Measurement recording;
    Measurement plotted;
    // Window, recording and (with the plot) the window with the plot, each
    // round starting one further along.
    const int sides = with_plot ? 3 : 2;
    for (int turn = 0; turn < sides; ++turn) {
      switch ((round + turn) % sides) {
        case 0:
          ui = WindowRun(o, /*with_plot=*/false);
          break;
        case 1:
          recording = RecordingRun(o);
          break;
        default:
          plotted = WindowRun(o, /*with_plot=*/true);
          break;
      }
    }
    ui_rate.push_back(ui.packets_per_s);
    recording_rate.push_back(recording.packets_per_s);
    ratios.push_back(ui.packets_per_s / recording.packets_per_s);
    repaints.push_back(ui.repaints_per_s);
    paints.push_back(ui.paints_per_s);
    p99.push_back(ui.timer_p99_late_ms);
    cpu.push_back(ui.thread_cpu_pct);
    queued.push_back(ui.thread_queued_pct);
    if (with_plot) {
      plot_rate.push_back(plotted.packets_per_s);
      plot_ratios.push_back(plotted.packets_per_s / recording.packets_per_s);
      plot_p99.push_back(plotted.timer_p99_late_ms);
      plot_cpu.push_back(plotted.thread_cpu_pct);
      plot_max_late = std::max(plot_max_late, plotted.timer_max_late_ms);
      plot_paints.push_back(plotted.plot_paints_per_s);
      plot_paint_ms.insert(plot_paint_ms.end(), plotted.plot_paint_ms.begin(),
                           plotted.plot_paint_ms.end());
      plot_paint_cpu_ms.insert(plot_paint_cpu_ms.end(), plotted.plot_paint_cpu_ms.begin(),
                               plotted.plot_paint_cpu_ms.end());
      plot_points.push_back(plotted.plot_points);
      std::fprintf(stderr,
                   "round %d: window with the plot %.0f packets/s (timer late %.1f ms at %.0f ms, "
                   "p99 %.1f ms, thread %.1f%% on a core, %.0f%% queued)\n",
                   round + 1, plotted.packets_per_s, plotted.timer_max_late_ms,
                   plotted.timer_max_late_at_ms, plotted.timer_p99_late_ms, plotted.thread_cpu_pct,
                   plotted.thread_queued_pct);
    }
    ui_max_late = std::max(ui_max_late, ui.timer_max_late_ms);
    recording_max_late = std::max(recording_max_late, recording.timer_max_late_ms);
    std::fprintf(stderr,
                 "round %d: window %.0f packets/s (timer late %.1f ms at %.0f ms, p99 %.1f ms, "
                 "%.0f paints/s, thread %.1f%% on a core, %.0f%% queued), recording %.0f "
                 "packets/s (timer late %.1f ms at %.0f ms)\n",
                 round + 1, ui.packets_per_s, ui.timer_max_late_ms, ui.timer_max_late_at_ms,
                 ui.timer_p99_late_ms, ui.paints_per_s, ui.thread_cpu_pct, ui.thread_queued_pct,
                 recording.packets_per_s, recording.timer_max_late_ms,
                 recording.timer_max_late_at_ms);
  }
  const FullPlotCost full_plot = with_plot ? FullPlotCosts(o.plot_ports) : FullPlotCost{};
  fs::current_path(old_dir);
  fs::remove_all(dir);

  std::printf("ui_timer_max_late_ms: %.1f\n", ui_max_late);
  std::printf("ui_timer_p99_late_ms: %.1f\n", Median(p99));
  std::printf("recording_timer_max_late_ms: %.1f\n", recording_max_late);
  std::printf("ui_packets_per_s: %.0f\n", Median(ui_rate));
  std::printf("recording_packets_per_s: %.0f\n", Median(recording_rate));
  std::printf("ui_vs_recording_pct: %.1f\n", Median(ratios) * 100.0);
  std::printf("ui_repaints_per_s: %.0f\n", Median(repaints));
  std::printf("ui_paints_per_s: %.0f\n", Median(paints));
  std::printf("ui_thread_cpu_pct: %.1f\n", Median(cpu));
  std::printf("ui_thread_queued_pct: %.0f\n", Median(queued));
  if (with_plot) {
    std::printf("plot_timer_max_late_ms: %.1f\n", plot_max_late);
    std::printf("plot_timer_p99_late_ms: %.1f\n", Median(plot_p99));
    std::printf("plot_packets_per_s: %.0f\n", Median(plot_rate));
    std::printf("plot_vs_recording_pct: %.1f\n", Median(plot_ratios) * 100.0);
    std::printf("plot_thread_cpu_pct: %.1f\n", Median(plot_cpu));
    auto mean = [](const std::vector<double>& v) {
      double sum = 0;
      for (const double x : v) sum += x;
      return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
    };
    auto max = [](const std::vector<double>& v) {
      return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
    };
    std::printf("ui_plot_paints_per_s: %.1f\n", Median(plot_paints));
    std::printf("ui_plot_paint_mean_ms: %.2f\n", mean(plot_paint_ms));
    std::printf("ui_plot_paint_max_ms: %.2f\n", max(plot_paint_ms));
    std::printf("ui_plot_paint_cpu_mean_ms: %.2f\n", mean(plot_paint_cpu_ms));
    std::printf("ui_plot_paint_cpu_max_ms: %.2f\n", max(plot_paint_cpu_ms));
    std::printf("ui_plot_points: %.0f\n", Median(plot_points));
    std::printf("plot_sample_us: %.1f\n", full_plot.sample_us);
    std::printf("plot_full_paint_ms: %.2f\n", full_plot.paint_ms);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace
}  // namespace quarnex

int main(int argc, char** argv) { return quarnex::Main(argc, argv); }
