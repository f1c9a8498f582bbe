// Loopback on lines that have a rate: the tester against the line it runs on.
//
// Four ports, each a pseudo-terminal pair joined by its own PtyRelay
// (bench/relay/pty_relay.h) to a second pair whose slave carries a loopback
// plug (EchoPlug). The relay paces what the port sends like a UART at
// 921,600 bit/s, 10 bits a byte, and passes the echo back as it comes: a
// looped line, where a packet of N bytes is back N x 10 / rate seconds
// after it left. The tester runs Loopback of 1024-byte packets on the four
// ports through QUARNEX_TTY_DIR, the serial backend and the whole engine,
// with that BitRate in quarnex.cfg.
//
// The figure compares the tester with the line, not with the nominal rate:
// a port's throughput is the good packets' bytes per second the tester
// judged; the line's rate is the bytes its relay passed per second of busy
// line over the same interval (the relay's own wake-up delays make it a
// little slower than nominal, and that is not the tester's doing). Each
// port's interval runs from one judged packet to another, stamped as its
// good-packet count moves, so whole packet cycles are counted and the
// relay's counters, read at the same moments, cover exactly their bytes.
//
// For scale, each round also times a bare loop on the same lines (one
// thread a port writes a packet and reads it back with blocking calls, as
// tty_bench's reference loop does), measured the same way: what the lines
// and the machine allow a minimal program. Tester and loop take turns in
// rotating order; a figure is the median over the rounds.
//
// Prints one figure per line as "name: value" (RATE is the bit rate):
//   tty_paced_RATE_tp_pct           the tester's good bytes per second as a
//                                   percentage of the lines' rate, four
//                                   ports together
//   tty_paced_RATE_min_port_tp_pct  the same for the lowest port
//   tty_paced_RATE_line_pct         the rate the lines achieved, as a
//                                   percentage of the nominal rate
//   tty_paced_RATE_nominal_tp_pct   the tester against the nominal rate
//   tty_paced_RATE_errors           packets judged bad while timed
//   tty_paced_RATE_reference_tp_pct the bare loop's throughput as a
//                                   percentage of the lines' rate
//
// Options: --seconds=N, the time of all rounds together (default 30);
// --packet-size=N (default 1024); --bit-rate=N (default 921600); --only=NAME
// runs nothing unless NAME is "tty". Other options are ignored.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "bench/relay/pty_relay.h"
#include "serial/pty_test_util.h"
#include "serial/tty_ports.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/settings_state.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPorts = 4;
constexpr int kRounds = 5;  // odd, so the median is one round's figure
// Ports opened, lines configured, first packets judged: outside the timing.
constexpr auto kWarmUp = std::chrono::milliseconds(500);
// How often a stamp looks at a port's count; a packet takes milliseconds.
constexpr auto kStampLook = std::chrono::microseconds(50);
// The bare loop gives up on a packet that is not back after this long.
constexpr int kPatienceMs = 2000;
// After a stop, a packet still on the line comes back before the next round.
constexpr auto kSettle = std::chrono::milliseconds(200);

// One port and its line at one moment: right after a packet was judged.
struct Stamp {
  Clock::time_point at;
  int64_t good = 0;
  int64_t errors = 0;
  PtyRelayCounters line;
  bool valid = false;
};

// Waits until the port judges its next good packet (no longer than
// `give_up`), then reads its counters and its line's.
Stamp StampAtNextPacket(const PortContext& port, const PtyRelay& relay, Clock::time_point give_up) {
  Stamp stamp;
  const int64_t before = port.GoodPacketCount.load();
  for (;;) {
    const int64_t good = port.GoodPacketCount.load();
    if (good != before) {
      stamp.at = Clock::now();
      stamp.good = good;
      stamp.errors = port.ErrorCount.load();
      stamp.line = relay.counters();
      stamp.valid = true;
      return stamp;
    }
    if (Clock::now() > give_up) return stamp;
    std::this_thread::sleep_for(kStampLook);
  }
}

struct PortFigures {
  double tester_bps = 0;  // good bytes per second
  double line_bps = 0;    // bytes per second of busy line
  int64_t errors = 0;
};

PortFigures Figures(const Stamp& start, const Stamp& end, uint32_t packet_size) {
  PortFigures f;
  if (!start.valid || !end.valid) return f;
  const double seconds = std::chrono::duration<double>(end.at - start.at).count();
  const double busy = static_cast<double>(end.line.busy_ns - start.line.busy_ns) * 1e-9;
  if (seconds > 0) {
    f.tester_bps = static_cast<double>(end.good - start.good) * packet_size / seconds;
  }
  if (busy > 0) f.line_bps = static_cast<double>(end.line.passed - start.line.passed) / busy;
  f.errors = end.errors - start.errors;
  return f;
}

struct Round {
  double tp_pct = 0;
  double min_port_pct = 0;
  double line_pct = 0;
  double nominal_pct = 0;
  int64_t errors = 0;
};

Round RunRound(RunContext& context, const std::vector<std::unique_ptr<PtyRelay>>& relays,
               const RecordingView& view, uint32_t packet_size, double nominal_bps,
               double duration) {
  Round round;
  const bool started = StartHeadlessRun(context);
  for (const std::string& message : view.Messages()) {
    std::fprintf(stderr, "  message: %s\n", message.c_str());
  }
  if (!started) {
    std::fprintf(stderr, "tty_paced_bench: the run did not start\n");
    return round;
  }
  std::this_thread::sleep_for(kWarmUp);
  // No stamp waits longer than a second: a port that judges nothing in a
  // second has no figure.
  const auto patience = std::chrono::seconds(1);
  std::vector<Stamp> start(kPorts), end(kPorts);
  for (int i = 0; i < kPorts; ++i) {
    start[i] = StampAtNextPacket(context.run.Ports[i], *relays[i], Clock::now() + patience);
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(duration));
  for (int i = 0; i < kPorts; ++i) {
    end[i] = StampAtNextPacket(context.run.Ports[i], *relays[i], Clock::now() + patience);
  }
  // What the rows say of a port that failed packets or judged none.
  for (int i = 0; i < kPorts; ++i) {
    const int row = context.run.Ports[i].Row;
    if (start[i].valid && end[i].valid && end[i].errors == start[i].errors) continue;
    const PortContext& p = context.run.Ports[i];
    std::fprintf(stderr,
                 "  port %d: errors %s (write failed %lld, aborted %lld; read failed %lld, "
                 "aborted %lld; length %lld, data %lld; timeouts %lld/%lld), status \"%s\"\n",
                 i + 1, view.Cell(row, kColumnErrors).c_str(),
                 static_cast<long long>(p.WriteFailedCount.load()),
                 static_cast<long long>(p.WriteAbortedCount.load()),
                 static_cast<long long>(p.ReadFailedCount.load()),
                 static_cast<long long>(p.ReadAbortedCount.load()),
                 static_cast<long long>(p.LengthMismatchCount.load()),
                 static_cast<long long>(p.DataMismatchCount.load()),
                 static_cast<long long>(p.WriteTimeoutCount.load()),
                 static_cast<long long>(p.ReadTimeoutCount.load()),
                 view.Cell(row, kColumnStatus).c_str());
  }
  StopHeadlessRun(context);

  double tester = 0, line = 0;
  round.min_port_pct = 1e9;
  for (int i = 0; i < kPorts; ++i) {
    const PortFigures f = Figures(start[i], end[i], packet_size);
    const double pct = f.line_bps > 0 ? 100.0 * f.tester_bps / f.line_bps : 0.0;
    std::fprintf(stderr,
                 "  port %d: tester %.0f B/s, line %.0f B/s (%.2f %% of nominal): %.2f %%\n", i + 1,
                 f.tester_bps, f.line_bps, 100.0 * f.line_bps / nominal_bps, pct);
    tester += f.tester_bps;
    line += f.line_bps;
    round.min_port_pct = std::min(round.min_port_pct, pct);
    round.errors += f.errors;
  }
  round.tp_pct = line > 0 ? 100.0 * tester / line : 0.0;
  round.line_pct = 100.0 * line / (kPorts * nominal_bps);
  round.nominal_pct = 100.0 * tester / (kPorts * nominal_bps);
  return round;
}

// The bare loop on one port until `end`: write a packet, read it back.
// Stamps itself at the first packet after `start_at` and at the first after
// `end`; a packet that does not come back whole and equal ends it.
void ReferenceLoop(const PtyRelay& relay, uint32_t packet_size, Clock::time_point start_at,
                   Clock::time_point end, Stamp* start, Stamp* stop) {
  UniqueFd fd(open(relay.port_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return;
  termios t;
  if (tcgetattr(fd.get(), &t) == 0) {
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd.get(), TCSANOW, &t);
  }
  tcflush(fd.get(), TCIOFLUSH);
  std::vector<uint8_t> packet(packet_size), echo(packet_size);
  for (int64_t packets = 0;; ++packets) {
    const Clock::time_point now = Clock::now();
    Stamp* stamp = !start->valid && now >= start_at ? start : now >= end ? stop : nullptr;
    if (stamp != nullptr) {
      stamp->at = now;
      stamp->good = packets;
      stamp->line = relay.counters();
      stamp->valid = true;
      if (stamp == stop) return;
    }
    for (uint32_t i = 0; i < packet_size; ++i) packet[i] = static_cast<uint8_t>(packets + i);
    for (size_t sent = 0; sent < packet.size();) {
      const ssize_t n = write(fd.get(), packet.data() + sent, packet.size() - sent);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
    for (size_t got = 0; got < echo.size();) {
      pollfd p{fd.get(), POLLIN, 0};
      if (poll(&p, 1, kPatienceMs) <= 0) return;
      const ssize_t n = read(fd.get(), echo.data() + got, echo.size() - got);
      if (n <= 0) return;
      got += static_cast<size_t>(n);
    }
    if (echo != packet) return;
  }
}

// The bare loop on every port at once; its throughput as a percentage of
// the lines' rate, all ports together.
double ReferenceRound(const std::vector<std::unique_ptr<PtyRelay>>& relays, uint32_t packet_size,
                      double duration) {
  const Clock::time_point start_at = Clock::now() + kWarmUp;
  const Clock::time_point end = start_at + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(duration));
  std::vector<Stamp> start(kPorts), stop(kPorts);
  std::vector<std::thread> loops;
  for (int i = 0; i < kPorts; ++i) {
    loops.emplace_back(ReferenceLoop, std::cref(*relays[i]), packet_size, start_at, end, &start[i],
                       &stop[i]);
  }
  for (std::thread& loop : loops) loop.join();
  double tester = 0, line = 0;
  for (int i = 0; i < kPorts; ++i) {
    const PortFigures f = Figures(start[i], stop[i], packet_size);
    tester += f.tester_bps;
    line += f.line_bps;
  }
  return line > 0 ? 100.0 * tester / line : 0.0;
}

int Main(double seconds, uint32_t packet_size, uint32_t bit_rate) {
  TempDir work;
  if (work.path().empty()) return 1;
  const std::filesystem::path old_dir = std::filesystem::current_path();
  std::filesystem::current_path(work.path());

  std::vector<std::unique_ptr<PtyRelay>> relays;
  std::vector<std::unique_ptr<EchoPlug>> plugs;
  for (int port = 1; port <= kPorts; ++port) {
    PtyRelayOptions options;
    options.bit_rate = bit_rate;
    std::string problem;
    std::unique_ptr<PtyRelay> relay = PtyRelay::Create(options, &problem);
    if (relay == nullptr || !work.Link(TtyLinkName(port), relay->port_path())) {
      std::fprintf(stderr, "tty_paced_bench: cannot make the line of port %d: %s\n", port,
                   problem.c_str());
      return 1;
    }
    plugs.push_back(std::make_unique<EchoPlug>(relay->far_end_fd()));
    relays.push_back(std::move(relay));
  }
  WriteTextFile("quarnex.cfg",
                "TxCharacterSize=3\nParity=0\nBitRate=" + std::to_string(bit_rate) + "\n");
  setenv(kTtyDirVariable, work.path().c_str(), 1);

  // The runs' own context, on the heap (RunState holds 128 slots).
  const auto owned_context = std::make_unique<RunContext>();
  RunContext& context = *owned_context;
  context.devices.SetBackends(StandardBackends());
  Settings& s = context.settings;
  s.Test = DefaultTestSettings();
  s.Port = DefaultPortSettings();
  // A transfer is ended as blocked after 1 s plus twice the packet's line
  // time, as the tester's defaults have it.
  s.Timeouts = kDefaultTimeouts;
  s.Test.PortIndex = 1;
  s.Test.PortCount = kPorts;
  s.Test.Mode = kLoopback;
  s.PacketSize = static_cast<int32_t>(packet_size);
  RecordingView view(false);
  context.SetOutputs(&view, &view);

  const double nominal_bps = static_cast<double>(bit_rate) / kUartBitsPerCharacter;
  std::vector<double> tp, min_port, line, nominal, reference;
  int64_t errors = 0;
  const double each = seconds / (2 * kRounds);
  for (int i = 0; i < kRounds; ++i) {
    std::fprintf(stderr, "round %d:\n", i + 1);
    // The order alternates, so that neither side always runs on a warmer
    // machine.
    for (int k = 0; k < 2; ++k) {
      if ((i + k) % 2 == 0) {
        const Round r = RunRound(context, relays, view, packet_size, nominal_bps, each);
        std::fprintf(stderr,
                     "  tester, all ports: %.2f %% of the lines' rate, %.2f %% of nominal\n",
                     r.tp_pct, r.nominal_pct);
        tp.push_back(r.tp_pct);
        min_port.push_back(r.min_port_pct);
        line.push_back(r.line_pct);
        nominal.push_back(r.nominal_pct);
        errors += r.errors;
      } else {
        reference.push_back(ReferenceRound(relays, packet_size, each));
        std::fprintf(stderr, "  bare loop, all ports: %.2f %% of the lines' rate\n",
                     reference.back());
      }
      std::this_thread::sleep_for(kSettle);
    }
  }
  context.SetOutputs(nullptr, nullptr);
  plugs.clear();
  relays.clear();
  unsetenv(kTtyDirVariable);
  std::filesystem::current_path(old_dir);

  const std::string name = "tty_paced_" + std::to_string(bit_rate);
  std::printf("%s_tp_pct: %.1f\n", name.c_str(), Median(tp));
  std::printf("%s_min_port_tp_pct: %.1f\n", name.c_str(), Median(min_port));
  std::printf("%s_line_pct: %.2f\n", name.c_str(), Median(line));
  std::printf("%s_nominal_tp_pct: %.1f\n", name.c_str(), Median(nominal));
  std::printf("%s_errors: %lld\n", name.c_str(), static_cast<long long>(errors));
  std::printf("%s_reference_tp_pct: %.1f\n", name.c_str(), Median(reference));
  return 0;
}

}  // namespace
}  // namespace quarnex

int main(int argc, char** argv) {
  double seconds = 30;
  long packet_size = 1024;
  long bit_rate = 921600;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (const char* v = quarnex::OptionValue(arg, "--seconds=")) seconds = std::atof(v);
    if (const char* v = quarnex::OptionValue(arg, "--packet-size=")) packet_size = std::atol(v);
    if (const char* v = quarnex::OptionValue(arg, "--bit-rate=")) bit_rate = std::atol(v);
    if (const char* v = quarnex::OptionValue(arg, "--only=")) {
      if (std::strcmp(v, "tty") != 0) return 0;
    }
  }
  if (seconds <= 0) seconds = 30;
  if (packet_size < 1 || packet_size > 65536) packet_size = 1024;
  if (bit_rate < 1 || bit_rate > 100000000) bit_rate = 921600;
  return quarnex::Main(seconds, static_cast<uint32_t>(packet_size),
                       static_cast<uint32_t>(bit_rate));
}
