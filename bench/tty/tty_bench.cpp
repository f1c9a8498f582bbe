// Loopback over a real kernel TTY: the tester against a minimal loop.
//
// One pseudo-terminal pair; a loopback plug on its master side echoes
// whatever arrives. The reference loop writes a packet to the slave with a
// blocking write() and reads the echo back with blocking read()s; the tester
// runs Loopback on the same slave through QUARNEX_TTY_DIR, the serial
// backend and the whole engine. For scale, the same engine also runs
// Loopback on the simulated adapter with an unpaced line, where the device
// costs next to nothing: that is the most any backend could give the tester
// on this machine. Each round times all three, in rotating order; a figure
// is the median over the rounds.
//
// The CPU figures count the process's user+sys time (CLOCK_PROCESS_CPUTIME_ID,
// the scheduler's exact run time of every thread, ended ones included)
// while the reference loop or the tester runs, less the echo thread's own
// (its thread CPU clock): what is left is the loop's or the tester's work,
// the kernel's share of their system calls included. The bench's main
// thread sleeps while the tester runs.
//
// Prints one figure per line as "name: value":
//   tty_packet_size          bytes per packet
//   tty_reference_pps        packets per second of the minimal loop
//   tty_tester_pps           packets per second the tester judged good
//   tty_vs_reference_pct     the tester's rate as a percentage of the loop's
//                            (median of the rounds' ratios)
//   tty_engine_ceiling_pct   the engine on the unpaced simulated adapter, as
//                            a percentage of the loop's rate
//   tty_tester_errors        packets the tester judged bad while timed
//   tty_reference_cpu_us     CPU microseconds per packet of the minimal loop
//   tty_tester_cpu_us        CPU microseconds per good packet of the tester
//   tty_cpu_vs_reference     the tester's CPU per packet over the loop's
//                            (median of the rounds' ratios)
//
// Options: --seconds=N, the time of all rounds together (default 15);
// --packet-size=N (default 1024, the tester's default); --only=NAME runs
// nothing unless NAME is "tty". Other options are ignored (scripts/bench
// passes its arguments to every benchmark).
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "bench/bench_util.h"
#include "serial/pty_test_util.h"
#include "serial/tty_ports.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;  // odd, so the median is one round's figure
// The tester's first packets (thread start, first open) stay out of the
// timing.
constexpr auto kWarmUp = std::chrono::milliseconds(200);

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ProcessCpuSeconds() {
  timespec ts;
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The CPU time of the process but the echo plug's, from the moment it is
// made.
class CpuMeter {
 public:
  explicit CpuMeter(EchoPlug* plug)
      : plug_(plug), process_(ProcessCpuSeconds()), plug_start_(plug->cpu_seconds()) {}
  double Seconds() const {
    return (ProcessCpuSeconds() - process_) - (plug_->cpu_seconds() - plug_start_);
  }

 private:
  EchoPlug* plug_;
  double process_;
  double plug_start_;
};

// One timed run of the loop or the tester.
struct Sample {
  double rate = 0;            // packets per second
  double cpu_per_packet = 0;  // CPU seconds per (good) packet
  int32_t errors = 0;
};

// Write a packet, read its echo back, for `duration`.
Sample ReferenceRate(const std::string& slave_path, EchoPlug* plug, uint32_t packet_size,
                     double duration) {
  Sample sample;
  UniqueFd fd(open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return sample;
  termios t;
  tcgetattr(fd.get(), &t);
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd.get(), TCSANOW, &t);
  std::vector<uint8_t> packet(packet_size, 'A'), echo(packet_size);
  const CpuMeter cpu(plug);
  const auto start = Clock::now();
  const auto end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(duration));
  uint64_t packets = 0;
  while (Clock::now() < end) {
    for (size_t sent = 0; sent < packet.size();) {
      const ssize_t n = write(fd.get(), packet.data() + sent, packet.size() - sent);
      if (n <= 0) return sample;
      sent += static_cast<size_t>(n);
    }
    for (size_t got = 0; got < echo.size();) {
      const ssize_t n = read(fd.get(), echo.data() + got, echo.size() - got);
      if (n <= 0) return sample;
      got += static_cast<size_t>(n);
    }
    ++packets;
  }
  const double cpu_seconds = cpu.Seconds();
  sample.rate = static_cast<double>(packets) / Seconds(Clock::now() - start);
  if (packets > 0) sample.cpu_per_packet = cpu_seconds / static_cast<double>(packets);
  return sample;
}

// Loopback on port 1 of `context` for `duration`, timed after the warm-up; on the TTY of
// the link folder `tty_dir`, or on the simulated adapter when it is empty.
Sample TesterRate(RunContext& context, const std::string& tty_dir, EchoPlug* plug,
                  double duration) {
  if (tty_dir.empty()) {
    unsetenv(kTtyDirVariable);
  } else {
    setenv(kTtyDirVariable, tty_dir.c_str(), 1);
  }
  Sample round;
  if (!StartHeadlessRun(context)) return round;
  std::this_thread::sleep_for(kWarmUp);
  const PortContext& port = context.run.Ports[0];
  const int64_t good_before = port.GoodPacketCount.load();
  const int64_t errors_before = port.ErrorCount.load();
  const CpuMeter cpu(plug);
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(duration));
  const int64_t good = port.GoodPacketCount.load() - good_before;
  const double cpu_seconds = cpu.Seconds();
  round.errors = port.ErrorCount.load() - errors_before;
  round.rate = good / Seconds(Clock::now() - start);
  if (good > 0) round.cpu_per_packet = cpu_seconds / static_cast<double>(good);
  StopHeadlessRun(context);
  return round;
}

int Main(double seconds, uint32_t packet_size) {
  TempDir work;
  if (work.path().empty()) return 1;
  const std::filesystem::path old_dir = std::filesystem::current_path();
  std::filesystem::current_path(work.path());
  PtyPair pty;
  if (!pty.Open() || !work.Link(TtyLinkName(1), pty.slave_path)) {
    std::fprintf(stderr, "tty_bench: cannot make a pseudo-terminal pair\n");
    return 1;
  }
  EchoPlug plug(pty.master.get());
  // BitRate 0: the simulated line is unpaced, and the TTY keeps its rate
  // (a pseudo-terminal does not pace anyway).
  WriteTextFile("quarnex.cfg", "TxCharacterSize=3\nParity=0\nBitRate=0\n");
  SimConfigure(DefaultSimConfig());

  // The runs' own context, on the heap (RunState holds 128 slots).
  const auto owned_context = std::make_unique<RunContext>();
  RunContext& context = *owned_context;
  context.devices.SetBackends(StandardBackends());
  Settings& s = context.settings;
  s.Test = DefaultTestSettings();
  s.Port = DefaultPortSettings();
  s.Test.PortIndex = 1;
  s.Test.PortCount = 1;
  s.Test.Mode = kLoopback;
  s.PacketSize = static_cast<int32_t>(packet_size);
  RecordingView view(false);
  context.SetOutputs(&view, &view);

  const double each = seconds / (3 * kRounds);
  const std::string tty_dir = work.path().string();
  std::vector<double> reference, tester, ratio, ceiling;
  std::vector<double> reference_cpu, tester_cpu, cpu_ratio;
  int32_t errors = 0;
  for (int i = 0; i < kRounds; ++i) {
    // The order rotates, so that no side always runs on a warmer machine.
    Sample ref, tty;
    double sim = 0;
    for (int k = 0; k < 3; ++k) {
      switch ((i + k) % 3) {
        case 0:
          ref = ReferenceRate(pty.slave_path, &plug, packet_size, each);
          break;
        case 1:
          tty = TesterRate(context, tty_dir, &plug, each);
          errors += tty.errors;
          break;
        default:
          sim = TesterRate(context, "", &plug, each).rate;
          break;
      }
    }
    std::fprintf(stderr,
                 "round %d: reference %.0f, tester %.0f, engine on the simulated adapter %.0f "
                 "packets/s; CPU per packet: reference %.1f us, tester %.1f us\n",
                 i + 1, ref.rate, tty.rate, sim, 1e6 * ref.cpu_per_packet,
                 1e6 * tty.cpu_per_packet);
    reference.push_back(ref.rate);
    tester.push_back(tty.rate);
    ratio.push_back(ref.rate > 0 ? 100.0 * tty.rate / ref.rate : 0.0);
    ceiling.push_back(ref.rate > 0 ? 100.0 * sim / ref.rate : 0.0);
    reference_cpu.push_back(1e6 * ref.cpu_per_packet);
    tester_cpu.push_back(1e6 * tty.cpu_per_packet);
    cpu_ratio.push_back(ref.cpu_per_packet > 0 ? tty.cpu_per_packet / ref.cpu_per_packet : 0.0);
  }
  context.SetOutputs(nullptr, nullptr);
  plug.Stop();
  unsetenv(kTtyDirVariable);
  std::filesystem::current_path(old_dir);

  std::printf("tty_packet_size: %u\n", packet_size);
  std::printf("tty_reference_pps: %.0f\n", Median(reference));
  std::printf("tty_tester_pps: %.0f\n", Median(tester));
  std::printf("tty_vs_reference_pct: %.1f\n", Median(ratio));
  std::printf("tty_engine_ceiling_pct: %.1f\n", Median(ceiling));
  std::printf("tty_tester_errors: %d\n", errors);
  std::printf("tty_reference_cpu_us: %.1f\n", Median(reference_cpu));
  std::printf("tty_tester_cpu_us: %.1f\n", Median(tester_cpu));
  std::printf("tty_cpu_vs_reference: %.2f\n", Median(cpu_ratio));
  return 0;
}

}  // namespace
}  // namespace quarnex

int main(int argc, char** argv) {
  double seconds = 15;
  long packet_size = 1024;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::atof(argv[i] + 10);
    if (std::strncmp(argv[i], "--packet-size=", 14) == 0) packet_size = std::atol(argv[i] + 14);
    if (std::strncmp(argv[i], "--only=", 7) == 0 && std::strcmp(argv[i] + 7, "tty") != 0) return 0;
  }
  if (seconds <= 0) seconds = 15;
  if (packet_size < 1 || packet_size > 65536) packet_size = 1024;
  return quarnex::Main(seconds, static_cast<uint32_t>(packet_size));
}
