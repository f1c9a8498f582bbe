// The headless runner against the bare engine: a 128-port Loopback run on
// an unpaced line (no BitRate in quarnex.cfg), once through quarnex-run as a
// process and once in this process through the recording cell interface
// (RecordingView without history), with the same settings.
//
// Prints "name: value" lines:
//   runner_vs_headless_pct   the runner's packet rate as a percentage of
//                            the recording run's: the median over the
//                            rounds of each round's ratio
//   runner_pkts_per_s        the two median rates, all ports together
//   headless_pkts_per_s
//   runner_cpu_us_per_pkt    CPU time (user + system) per packet over
//   headless_cpu_us_per_pkt  each whole run, start and stop included
//                            (medians): what a side costs, whatever share
//                            of the machine it got; the runner's includes
//                            starting its process and loading QtCore
//
// Each rate is measured over the same window of each run: from the first
// report (one interval after the start, so opening 128 ports does not
// count) to the end. Each round runs the two back to back and yields one
// ratio, so a slow drift of the load from elsewhere on the machine falls on
// both sides of a ratio alike; the median drops rounds that a burst of such
// load hit on one side only.
//
// With --control the "runner" side is a second recording run instead, and
// the figure is printed as control_headless_vs_headless_pct: how far from
// 100 the method itself lands on this machine now (its noise floor).
//
// The runner serves its metrics (--metrics) and this program scrapes them
// every second while it runs, as a lab's Prometheus would; runner_scrapes
// says how many scrapes were answered of those asked, over all rounds.
//
// Options: --seconds=N length of each run (default 6), --rounds=N (default
// 5), --packet-size=N (default 64), --update-interval=MS (default 500, the
// stored default; 0 refreshes every row after every packet), --no-scrape
// (the runner without its metrics endpoint).
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "bench/bench_util.h"
#include "bench/full_adapter.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/platform/clock.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/memory_store.h"
#include "testapp/settings/settings_io.h"
#include "testapp/settings/settings_state.h"
#include "testapp/station/http_get_test_util.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {
namespace {

namespace fs = std::filesystem;

constexpr double kIntervalS = 1.0;

struct BenchOptions {
  double seconds = 6.0;
  int rounds = 5;
  int packet_size = 64;
  int update_interval_ms = 500;
  bool control = false;
  bool scrape = true;
};

// Seconds between two scrapes of the runner's metrics.
constexpr double kScrapeIntervalS = 1.0;

// One run of either side.
struct Measurement {
  double packets_per_s = 0;      // over the timed window
  double cpu_us_per_packet = 0;  // over the whole run
  int scrapes = 0;               // metrics scrapes answered
  int scrape_attempts = 0;       // and asked for
};

double CpuSeconds(const rusage& usage) {
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The same run through the recording view: settings as the runner gets
// them (defaults, then the command line's overrides), the window's Start,
// the window's Stop. Packets per second from one interval after the start
// to the end.
Measurement HeadlessRun(const BenchOptions& o) {
  rusage before;
  getrusage(RUSAGE_SELF, &before);
  MemoryStore store;
  // The run's own context, on the heap (RunState holds 128 slots).
  const auto context = std::make_unique<RunContext>();
  context->devices.SetBackends(StandardBackends());
  LoadSettings(store, &context->settings);
  Settings& s = context->settings;
  s.Test.PortIndex = 1;
  s.Test.PortCount = kBenchPorts;
  s.PacketSize = o.packet_size;
  s.Test.UpdateInterval = static_cast<uint32_t>(o.update_interval_ms);

  RecordingView view(/*keep_history=*/false);
  context->SetOutputs(&view, &view);
  if (!StartHeadlessRun(*context)) {
    std::fprintf(stderr, "the recording run did not start\n");
    std::exit(1);
  }
  const double start = SteadyMilliseconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(kIntervalS));
  const double first_ms = SteadyMilliseconds();
  const long long first = TotalPackets(*context);
  std::this_thread::sleep_until(
      std::chrono::steady_clock::now() +
      std::chrono::duration<double, std::milli>(start + o.seconds * 1000 - SteadyMilliseconds()));
  const double last_ms = SteadyMilliseconds();
  const long long last = TotalPackets(*context);
  StopHeadlessRun(*context);
  rusage after;
  getrusage(RUSAGE_SELF, &after);
  Measurement m;
  m.packets_per_s = (last - first) / ((last_ms - first_ms) / 1000.0);
  m.cpu_us_per_packet = (CpuSeconds(after) - CpuSeconds(before)) / TotalPackets(*context) * 1e6;
  return m;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

QJsonObject ParseLine(const std::string& line) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
}

// The same run through quarnex-run: packets per second between its first
// report and its summary.
Measurement RunnerRun(const BenchOptions& o, const fs::path& dir) {
  const fs::path out = dir / "runner.out";
  const fs::path err = dir / "runner.err";
  std::vector<std::string> args = {QUARNEX_RUN_BINARY,
                                   "--ports",
                                   "1-128",
                                   "--packet-size",
                                   std::to_string(o.packet_size),
                                   "--update-interval",
                                   std::to_string(o.update_interval_ms),
                                   "--duration",
                                   std::to_string(o.seconds),
                                   "--interval",
                                   std::to_string(kIntervalS),
                                   "--json",
                                   "--max-errors",
                                   "2147483647"};
  if (o.scrape) {
    args.push_back("--metrics");
    args.push_back("127.0.0.1:0");
  }
  const pid_t pid = SpawnRunner(std::move(args), kBenchSim, (dir / "config").string(), out.string(),
                                err.string());
  // A lab's Prometheus: once the runner says where its metrics are, one
  // scrape a second until it ends.
  std::atomic<bool> ended{false};
  std::atomic<int> scrapes{0};
  std::atomic<int> attempts{0};
  std::thread scraper([&] {
    if (!o.scrape) return;
    static const std::string kSaid = "metrics at http://127.0.0.1:";
    int port = 0;
    while (!ended.load() && port == 0) {
      const std::string said = ReadFile(err);
      const size_t at = said.find(kSaid);
      if (at != std::string::npos) port = std::atoi(said.c_str() + at + kSaid.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto next = std::chrono::steady_clock::now();
    while (!ended.load()) {
      ++attempts;
      // Prometheus's own default scrape timeout.
      const std::optional<HttpReply> reply = HttpGet(port, "/metrics", 10.0);
      if (reply && reply->status == 200) ++scrapes;
      next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(kScrapeIntervalS));
      std::this_thread::sleep_until(next);
    }
  });
  int status = 0;
  rusage usage;
  wait4(pid, &status, 0, &usage);
  ended.store(true);
  scraper.join();
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    std::fprintf(stderr, "quarnex-run failed (status %d)\n", status);
    std::exit(1);
  }
  std::istringstream lines(ReadFile(out));
  std::string line;
  std::vector<std::string> all;
  while (std::getline(lines, line)) all.push_back(line);
  if (all.size() < 2) {
    std::fprintf(stderr, "quarnex-run gave no report\n");
    std::exit(1);
  }
  const QJsonObject first = ParseLine(all.front());
  const QJsonObject summary = ParseLine(all.back());
  const double packets = summary["totals"].toObject()["packets"].toDouble() -
                         first["totals"].toObject()["packets"].toDouble();
  const double seconds = summary["elapsed_s"].toDouble() - first["elapsed_s"].toDouble();
  Measurement m;
  m.packets_per_s = packets / seconds;
  m.cpu_us_per_packet =
      CpuSeconds(usage) / summary["totals"].toObject()["packets"].toDouble() * 1e6;
  m.scrapes = scrapes.load();
  m.scrape_attempts = attempts.load();
  return m;
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
    } else if (const char* v = value("--update-interval=")) {
      o.update_interval_ms = std::atoi(v);
    } else if (arg == "--control") {
      o.control = true;
    } else if (arg == "--no-scrape") {
      o.scrape = false;
    } else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      std::exit(2);
    }
  }
  if (o.seconds <= kIntervalS * 2 || o.rounds < 1) {
    std::fprintf(stderr, "need --seconds above %g and --rounds of 1 or more\n", kIntervalS * 2);
    std::exit(2);
  }
  return o;
}

int Main(int argc, char** argv) {
  const BenchOptions o = ParseOptions(argc, argv);
  std::string templ = (fs::temp_directory_path() / "runner-bench-XXXXXX").string();
  const fs::path dir = mkdtemp(templ.data());
  fs::create_directories(dir / "config");
  std::ofstream(dir / "quarnex.cfg") << kUnpacedConfig;
  fs::current_path(dir);
  SimConfigureText(kBenchSim);

  std::vector<double> runner;
  std::vector<double> headless;
  std::vector<double> runner_cpu;
  std::vector<double> headless_cpu;
  std::vector<double> ratios;
  int scrapes = 0;
  int scrape_attempts = 0;
  for (int round = 0; round < o.rounds; ++round) {
    // Alternating the order within the rounds keeps the side that runs
    // first (on a machine just quietened or just loaded) from being always
    // the same.
    auto other_side = [&] { return o.control ? HeadlessRun(o) : RunnerRun(o, dir); };
    Measurement a;
    Measurement b;
    if (round % 2 == 0) {
      a = HeadlessRun(o);
      b = other_side();
    } else {
      b = other_side();
      a = HeadlessRun(o);
    }
    headless.push_back(a.packets_per_s);
    headless_cpu.push_back(a.cpu_us_per_packet);
    runner.push_back(b.packets_per_s);
    runner_cpu.push_back(b.cpu_us_per_packet);
    scrapes += b.scrapes;
    scrape_attempts += b.scrape_attempts;
    ratios.push_back(runner.back() / headless.back());
    std::fprintf(stderr, "round %d: headless %.0f, runner %.0f packets/s\n", round + 1,
                 headless.back(), runner.back());
  }
  fs::current_path(dir.parent_path());
  fs::remove_all(dir);

  const double runner_rate = Median(runner);
  const double headless_rate = Median(headless);
  std::printf("%s: %.1f\n",
              o.control ? "control_headless_vs_headless_pct" : "runner_vs_headless_pct",
              Median(ratios) * 100.0);
  std::printf("runner_pkts_per_s: %.0f\n", runner_rate);
  std::printf("headless_pkts_per_s: %.0f\n", headless_rate);
  std::printf("runner_cpu_us_per_pkt: %.2f\n", Median(runner_cpu));
  std::printf("headless_cpu_us_per_pkt: %.2f\n", Median(headless_cpu));
  if (!o.control) std::printf("runner_scrapes: %d of %d\n", scrapes, scrape_attempts);
  return 0;
}

}  // namespace
}  // namespace quarnex

int main(int argc, char** argv) { return quarnex::Main(argc, argv); }
