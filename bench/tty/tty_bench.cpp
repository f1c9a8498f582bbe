// Loopback over a real kernel TTY: the tester against a minimal loop.
//
// One pseudo-terminal pair; a loopback plug on its master side echoes
// whatever arrives. The reference loop writes a packet to the slave with a
// blocking write() and reads the echo back with blocking read()s; the tester
// runs Loopback on the same slave through QUARNEX_TTY_DIR, the serial
// backend and the whole engine. Rounds alternate between the two, and each
// rate is the median of its rounds.
//
// Prints one figure per line as "name: value":
//   tty_reference_pps      packets per second of the minimal loop
//   tty_tester_pps         packets per second the tester judged good
//   tty_vs_reference_pct   the tester's rate as a percentage of the loop's
//   tty_tester_errors      packets the tester judged bad while timed
//
// Options: --seconds=N, the time of all rounds together (default 10);
// --only=NAME runs nothing unless NAME is "tty". Other options are ignored
// (scripts/bench passes its arguments to every benchmark).
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
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

#include "serial/pty_test_util.h"
#include "serial/tty_ports.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kPacketSize = 1024;
constexpr int kRounds = 5;
// The tester's first packets (thread start, first open) stay out of the
// timing.
constexpr auto kWarmUp = std::chrono::milliseconds(200);

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Write a packet, read its echo back, for `duration`; packets per second.
double ReferenceRate(const std::string& slave_path, double duration) {
  UniqueFd fd(open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return 0;
  termios t;
  tcgetattr(fd.get(), &t);
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd.get(), TCSANOW, &t);
  std::vector<uint8_t> packet(kPacketSize, 'A'), echo(kPacketSize);
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(duration));
  uint64_t packets = 0;
  while (Clock::now() < end) {
    for (size_t sent = 0; sent < packet.size();) {
      const ssize_t n = write(fd.get(), packet.data() + sent, packet.size() - sent);
      if (n <= 0) return 0;
      sent += static_cast<size_t>(n);
    }
    for (size_t got = 0; got < echo.size();) {
      const ssize_t n = read(fd.get(), echo.data() + got, echo.size() - got);
      if (n <= 0) return 0;
      got += static_cast<size_t>(n);
    }
    ++packets;
  }
  return static_cast<double>(packets) / Seconds(Clock::now() - start);
}

struct TesterRound {
  double rate = 0;
  int32_t errors = 0;
};

// Loopback on port 1 of the link folder for `duration`, timed after the
// warm-up.
TesterRound TesterRate(double duration) {
  TesterRound round;
  if (!StartHeadlessRun()) return round;
  std::this_thread::sleep_for(kWarmUp);
  const PortContext& port = Run().Ports[0];
  const int32_t good_before = port.GoodPacketCount.load();
  const int32_t errors_before = port.ErrorCount.load();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(duration));
  const int32_t good = port.GoodPacketCount.load() - good_before;
  round.errors = port.ErrorCount.load() - errors_before;
  round.rate = good / Seconds(Clock::now() - start);
  StopHeadlessRun();
  return round;
}

int Main(double seconds) {
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
  setenv(kTtyDirVariable, work.path().c_str(), 1);
  WriteTextFile("quarnex.cfg", "TxCharacterSize=3\nParity=0\nBitRate=115200\n");

  Settings& s = GlobalSettings();
  s.Test = DefaultTestSettings();
  s.Port = DefaultPortSettings();
  s.Test.PortIndex = 1;
  s.Test.PortCount = 1;
  s.Test.Mode = kLoopback;
  s.PacketSize = kPacketSize;
  RecordingView view(false);
  SetEngineOutputs(&view, &view);
  ClearPortSlots();

  const double each = seconds / (2 * kRounds);
  std::vector<double> reference, tester;
  int32_t errors = 0;
  for (int i = 0; i < kRounds; ++i) {
    // The order alternates, so neither side always runs on a warmer machine.
    if (i % 2 == 0) reference.push_back(ReferenceRate(pty.slave_path, each));
    const TesterRound round = TesterRate(each);
    tester.push_back(round.rate);
    errors += round.errors;
    if (i % 2 == 1) reference.push_back(ReferenceRate(pty.slave_path, each));
  }
  SetEngineOutputs(nullptr, nullptr);
  plug.Stop();
  std::filesystem::current_path(old_dir);

  const double ref = Median(reference);
  const double got = Median(tester);
  std::printf("tty_reference_pps: %.0f\n", ref);
  std::printf("tty_tester_pps: %.0f\n", got);
  std::printf("tty_vs_reference_pct: %.1f\n", ref > 0 ? 100.0 * got / ref : 0.0);
  std::printf("tty_tester_errors: %d\n", errors);
  return 0;
}

}  // namespace
}  // namespace quarnex

int main(int argc, char** argv) {
  double seconds = 10;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::atof(argv[i] + 10);
    if (std::strncmp(argv[i], "--only=", 7) == 0 && std::strcmp(argv[i] + 7, "tty") != 0) return 0;
  }
  if (seconds <= 0) seconds = 10;
  return quarnex::Main(seconds);
}
