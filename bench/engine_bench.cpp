// Whole-run benchmarks of the engine on the simulated adapter.
//
// Prints one figure per line as "name: value":
//   engine_vs_reference_pct  Loopback on one unpaced port: the tester's
//                            packets per second as a percentage of a bare
//                            loop making the same read/write hand-off
//                            (plus both rates and the CPU time per packet)
//   loopback_1M_tp_pct       the throughput column 3 shows after 10 s of
//   loopback_115k_tp_pct     Loopback, 1024-byte packets, at 1 Mbit/s and
//                            at 115200 bit/s
//   scale128_min_tp_pct      128 ports in Loopback at 1 Mbit/s for 10 s:
//   scale128_errors          the lowest throughput of any port, the errors
//   scale128_peak_rss_mib    of all ports, and the process's peak RSS
//   unjudged_pct             16 ports in Loopback for 5 s at 115200 bit/s,
//                            at 1 Mbit/s and unpaced: the largest share of
//                            packets counted without a verdict (packets -
//                            good - errors, over packets) in any of the runs
//
// Runs in a temporary folder of its own (the configuration file is written
// there). Options: --seconds=N shortens or lengthens the timed runs (default
// 10; at most 5 for unjudged_pct), --only=NAME runs one group (reference,
// loopback, scale128, unjudged).
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "testapp/driver/control_codes.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/verdict.h"
#include "testapp/pattern/packet_pattern.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/records.h"
#include "testapp/settings/settings_state.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kPacketSize = 1024;

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The process's peak resident set (VmHWM), MiB.
double PeakRssMib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return -1;
}

double ThroughputPercent(const std::string& cell) {
  const size_t open = cell.rfind('(');
  if (open == std::string::npos || cell.find('%', open) == std::string::npos) return 0;
  return std::atof(cell.c_str() + open + 1);
}

void Print(const char* name, double value, int decimals = 1) {
  std::printf("%s: %.*f\n", name, decimals, value);
  std::fflush(stdout);
}

// Ports 1..count with loopback plugs.
void UseLoopbackPorts(int count) {
  SimConfig config;
  for (int n = 1; n <= count; ++n) config.ports[n] = FarEnd{};
  SimConfigure(config);
}

struct EngineFigures {
  double seconds = 0;
  double cpu_seconds = 0;
  int64_t packets = 0;  // judged attempts, all ports
  int64_t good = 0;
  int64_t errors = 0;
  double min_throughput = 0;  // lowest column-3 percentage of any row
};

// One Loopback run of the tester through the engine's own start and stop.
// Counters and cells are read just before the stop: the stop itself judges
// the reads it interrupts as failures, as the log's stop record, written
// before the stop, never shows.
EngineFigures RunEngine(RecordingView& view, int ports, int bit_rate, double seconds) {
  // The run's own context, on the heap (RunState holds 128 slots).
  const auto context = std::make_unique<RunContext>();
  context->devices.SetBackends(StandardBackends());
  context->SetOutputs(&view, &view);
  UseLoopbackPorts(ports);
  WriteTextFile("quarnex.cfg",
                "BitRate=" + std::to_string(bit_rate) + "\nTxCharacterSize=3\nParity=0\n");
  Settings& s = context->settings;
  s.Test = DefaultTestSettings();
  s.Port = DefaultPortSettings();
  s.Test.PortIndex = 1;
  s.Test.PortCount = ports;
  s.PacketSize = kPacketSize;
  // The program's own blocked-transfer timeout, as a fresh settings store
  // gives it; all zero would time out a paced packet after 2 x its ideal time.
  s.Timeouts = kDefaultTimeouts;

  EngineFigures f;
  const double cpu_start = CpuSeconds();
  const auto start = Clock::now();
  if (!StartHeadlessRun(*context)) {
    std::fprintf(stderr, "engine_bench: the run did not start\n");
    std::exit(1);
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  f.min_throughput = 1e9;
  for (int i = 0; i < ports; ++i) {
    const PortContext& port = context->run.Ports[i];
    f.packets += port.PacketCount.load();
    f.good += port.GoodPacketCount.load();
    f.errors += port.ErrorCount.load();
    const double tp = ThroughputPercent(view.Cell(port.Row, kColumnTime));
    if (tp < f.min_throughput) f.min_throughput = tp;
  }
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.cpu_seconds = CpuSeconds() - cpu_start;
  StopHeadlessRun(*context);
  return f;
}

struct ReferenceFigures {
  double seconds = 0;
  double cpu_seconds = 0;
  int64_t packets = 0;
  int64_t mismatches = 0;
  double total_packet_ms = 0;  // write posted to read seen, summed
};

// Sends the port a configuration block with 8-bit characters, no parity
// and `bit_rate`, as ConfigurePort would from such a file.
void ConfigureLine(Device& device, int32_t bit_rate) {
  DeviceConfigBlock block{};
  StoreU32(block.bytes, block::kTxCharacterSize, 3);
  StoreU32(block.bytes, block::kRxCharacterSize, 3);
  StoreU32(block.bytes, block::kBitRate, static_cast<uint32_t>(bit_rate));
  device.Control(kIoctlSetConfiguration, block.bytes, kConfigBlockSize, nullptr, 0, nullptr);
}

// The bare hand-off the tester's Loopback makes, with nothing else: this
// thread posts a read and, once it is pending, signals a writer thread,
// which writes the packet; this thread waits for the read and compares.
// Each packet is timed as the tester times it, from just before the write
// to the moment the reader sees its read complete.
ReferenceFigures RunReference(double seconds, int32_t bit_rate) {
  UseLoopbackPorts(1);
  DeviceRef device = OpenSimulatedPort(1);
  if (!device) {
    std::fprintf(stderr, "engine_bench: cannot open the reference port\n");
    std::exit(1);
  }
  ConfigureLine(*device, bit_rate);
  std::atomic<double> write_start{0};
  std::vector<uint8_t> pattern(kPacketSize);
  FillPattern(PatternKind::kLetters, 0, pattern.data(), kPacketSize);
  std::vector<uint8_t> buffer(kPacketSize);

  const EventRef release = MakeEvent(Event::Kind::kAutoReset);
  const EventRef stop = MakeEvent(Event::Kind::kManualReset);
  std::thread writer([&] {
    Completion record(MakeEvent(Event::Kind::kManualReset));
    while (WaitAny({release.get(), stop.get()}, kInfinite) == 0) {
      write_start.store(MsClock());
      if (device->Write(pattern.data(), kPacketSize, &record).pending()) {
        WaitAny({record.event.get(), stop.get()}, kInfinite);
      }
    }
  });

  ReferenceFigures f;
  Completion record(MakeEvent(Event::Kind::kManualReset));
  const double cpu_start = CpuSeconds();
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    IoStatus status = device->Read(buffer.data(), kPacketSize, &record);
    if (status.pending()) {
      release->Set();
      WaitAny({record.event.get()}, kInfinite);
      status = device->Result(record);
    }
    f.total_packet_ms += MsClock() - write_start.load();
    if (!status.done() || status.count != kPacketSize ||
        std::memcmp(buffer.data(), pattern.data(), kPacketSize) != 0) {
      ++f.mismatches;
    }
    ++f.packets;
  }
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.cpu_seconds = CpuSeconds() - cpu_start;
  stop->Set();
  writer.join();
  device->Close();
  return f;
}

void BenchReference(RecordingView& view, double seconds) {
  const ReferenceFigures ref = RunReference(seconds, 0);
  const EngineFigures eng = RunEngine(view, 1, 0, seconds);
  const double ref_rate = ref.packets / ref.seconds;
  const double eng_rate = eng.packets / eng.seconds;
  Print("engine_vs_reference_pct", 100.0 * eng_rate / ref_rate);
  Print("engine_packets_per_s", eng_rate, 0);
  Print("engine_good_packets_per_s", eng.good / eng.seconds, 0);
  Print("reference_packets_per_s", ref_rate, 0);
  Print("engine_cpu_us_per_packet", 1e6 * eng.cpu_seconds / eng.packets, 2);
  Print("reference_cpu_us_per_packet", 1e6 * ref.cpu_seconds / ref.packets, 2);
  if (ref.mismatches != 0) Print("reference_mismatches", static_cast<double>(ref.mismatches), 0);
}

// The mean lateness of the adapter's line timers while `run` ran, us.
template <typename Fn>
double AdapterLatenessDuring(Fn run) {
  const LineScheduler::Lateness before = LineScheduler::Instance().TotalLateness();
  run();
  const LineScheduler::Lateness after = LineScheduler::Instance().TotalLateness();
  const uint64_t timers = after.timers - before.timers;
  return timers == 0 ? 0 : (after.total_us - before.total_us) / static_cast<double>(timers);
}

// A bare loop on the same paced line: the ceiling the tester's figure is
// measured against.
double ReferenceThroughput(double seconds, int32_t bit_rate) {
  const ReferenceFigures ref = RunReference(seconds < 3 ? seconds : 3, bit_rate);
  const double expected_ms = 8.0 * kPacketSize * 1000 / bit_rate;
  return 100.0 * expected_ms / (ref.total_packet_ms / static_cast<double>(ref.packets));
}

void BenchLoopback(RecordingView& view, double seconds) {
  EngineFigures fast;
  const double lateness =
      AdapterLatenessDuring([&] { fast = RunEngine(view, 1, 1000000, seconds); });
  Print("loopback_1M_tp_pct", fast.min_throughput, 2);
  Print("loopback_1M_adapter_lateness_us", lateness, 1);
  Print("reference_1M_tp_pct", ReferenceThroughput(seconds, 1000000), 2);
  const EngineFigures slow = RunEngine(view, 1, 115200, seconds);
  Print("loopback_115k_tp_pct", slow.min_throughput, 2);
  Print("reference_115k_tp_pct", ReferenceThroughput(seconds, 115200), 2);
}

void BenchScale(RecordingView& view, double seconds) {
  EngineFigures f;
  const double lateness =
      AdapterLatenessDuring([&] { f = RunEngine(view, kMaxPorts, 1000000, seconds); });
  Print("scale128_min_tp_pct", f.min_throughput, 2);
  Print("scale128_errors", static_cast<double>(f.errors), 0);
  Print("scale128_peak_rss_mib", PeakRssMib(), 1);
  Print("scale128_cpu_pct", 100.0 * f.cpu_seconds / f.seconds, 0);
  Print("scale128_adapter_lateness_us", lateness, 1);
}

// Packets a run counted but neither passed nor failed, as a percentage of
// its packets. In Loopback every packet that came back must be judged, so
// this stays 0 apart from a packet counted just as the snapshot was read.
void BenchUnjudged(RecordingView& view, double seconds) {
  constexpr int kPorts = 16;
  double worst = 0;
  for (const int bit_rate : {115200, 1000000, 0}) {
    const EngineFigures f = RunEngine(view, kPorts, bit_rate, seconds);
    if (f.packets == 0) {
      std::fprintf(stderr, "engine_bench: no packet at %d bit/s\n", bit_rate);
      std::exit(1);
    }
    const double pct =
        100.0 * static_cast<double>(f.packets - f.good - f.errors) / static_cast<double>(f.packets);
    if (pct > worst) worst = pct;
  }
  Print("unjudged_pct", worst, 3);
}

}  // namespace
}  // namespace quarnex

int main(int argc, char** argv) {
  using namespace quarnex;
  double seconds = 10;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::atof(argv[i] + 10);
    if (std::strncmp(argv[i], "--only=", 7) == 0) only = argv[i] + 7;
  }

  std::string dir_template =
      (std::filesystem::temp_directory_path() / "engine_bench.XXXXXX").string();
  if (mkdtemp(dir_template.data()) == nullptr) return 1;
  const std::filesystem::path old_dir = std::filesystem::current_path();
  std::filesystem::current_path(dir_template);

  // History off: a 10 s run refreshes thousands of cells.
  RecordingView view(/*keep_history=*/false);

  if (only.empty() || only == "reference") BenchReference(view, seconds < 3 ? seconds : 3);
  if (only.empty() || only == "loopback") BenchLoopback(view, seconds);
  if (only.empty() || only == "scale128") BenchScale(view, seconds);
  if (only.empty() || only == "unjudged") BenchUnjudged(view, seconds < 5 ? seconds : 5);

  std::filesystem::current_path(old_dir);
  std::filesystem::remove_all(dir_template);
  return 0;
}
