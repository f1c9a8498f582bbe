// pty_plug: loopback plugs on pseudo-terminals for trying the TTY backend by
// hand, e.g. with quarnex-run, without hardware (serial/pty_plug.h).
//
//   pty_plug [--drop K] [--flip K] [--bit B] [--vanish-after S] DIR PORTS
//
// plugs ports PORTS (N or A-B) in the folder DIR, which QUARNEX_TTY_DIR
// then names, and echoes until Ctrl+C or SIGTERM, or until --vanish-after
// pulls every plug (the tester sees its ports lost). It ends with each
// plug's counters on standard output.
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "serial/pty_plug.h"
#include "serial/tty_ports.h"

namespace quarnex {
namespace {

constexpr int kMaxPort = 999;
constexpr int kMaxBit = 7;

constexpr char kUsage[] =
    "usage: pty_plug [--drop K] [--flip K] [--bit B] [--vanish-after S] DIR PORTS\n"
    "  Links DIR/QuarnexNN for each port of PORTS (N or A-B) to a pseudo-terminal\n"
    "  whose far end echoes; run the tester with QUARNEX_TTY_DIR=DIR.\n"
    "  --drop K          drop every K-th byte\n"
    "  --flip K          flip a bit of every K-th byte\n"
    "  --bit B           the bit --flip changes, 0 to 7 (default 0)\n"
    "  --vanish-after S  pull the plugs after S seconds and end\n";

bool ParseWhole(const char* text, long min, long max, long* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
  *value = v;
  return true;
}

bool ParsePorts(const std::string& text, int* first, int* last) {
  const size_t dash = text.find('-');
  long a = 0;
  long b = 0;
  if (!ParseWhole(text.substr(0, dash).c_str(), 0, kMaxPort, &a)) return false;
  b = a;
  if (dash != std::string::npos && !ParseWhole(text.substr(dash + 1).c_str(), a, kMaxPort, &b)) {
    return false;
  }
  *first = static_cast<int>(a);
  *last = static_cast<int>(b);
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "pty_plug: %s\n%s", message.c_str(), kUsage);
  return 2;
}

int Main(int argc, char** argv) {
  PtyPlugOptions options;
  options.keep_offsets = false;  // a long run would only grow the lists
  double vanish_after = 0;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg.rfind("--", 0) != 0) {
      operands.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) return Fail(arg + " needs a value");
    const char* value = argv[++i];
    long number = 0;
    if (arg == "--drop" && ParseWhole(value, 1, UINT32_MAX, &number)) {
      options.drop_every = static_cast<uint32_t>(number);
    } else if (arg == "--flip" && ParseWhole(value, 1, UINT32_MAX, &number)) {
      options.flip_every = static_cast<uint32_t>(number);
    } else if (arg == "--bit" && ParseWhole(value, 0, kMaxBit, &number)) {
      options.flip_mask = static_cast<uint8_t>(1u << number);
    } else if (arg == "--vanish-after") {
      char* end = nullptr;
      vanish_after = std::strtod(value, &end);
      if (end == value || *end != '\0' || !std::isfinite(vanish_after) || vanish_after <= 0) {
        return Fail("bad value for --vanish-after: " + std::string(value));
      }
    } else {
      return Fail("bad option or value: " + arg + " " + value);
    }
  }
  int first = 0;
  int last = 0;
  if (operands.size() != 2) return Fail("expected DIR and PORTS");
  if (!ParsePorts(operands[1], &first, &last)) return Fail("bad ports: " + operands[1]);

  // Blocked before any plug starts its thread, so that only sigwait sees
  // the signals and every plug is destroyed (its link removed) at the end.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::vector<std::unique_ptr<PtyPlug>> plugs;
  for (int port = first; port <= last; ++port) {
    std::string problem;
    std::unique_ptr<PtyPlug> plug = PtyPlug::Create(operands[0], port, options, &problem);
    if (plug == nullptr) {
      std::fprintf(stderr, "pty_plug: %s: %s\n", TtyLinkName(port).c_str(), problem.c_str());
      return 1;
    }
    std::printf("%s -> %s\n", plug->link_path().c_str(), plug->slave_path().c_str());
    plugs.push_back(std::move(plug));
  }
  std::fflush(stdout);

  if (vanish_after > 0) {
    timespec wait;
    wait.tv_sec = static_cast<time_t>(vanish_after);
    wait.tv_nsec = static_cast<long>((vanish_after - std::floor(vanish_after)) * 1e9);
    if (sigtimedwait(&signals, nullptr, &wait) < 0 && errno == EAGAIN) {
      for (auto& plug : plugs) plug->Vanish();
      std::printf("pulled\n");
    }
  } else {
    int signal_number = 0;
    sigwait(&signals, &signal_number);
  }
  for (int port = first; port <= last; ++port) {
    const PtyPlugCounters c = plugs[static_cast<size_t>(port - first)]->counters();
    std::printf(
        "%s: received %llu, passed %llu, dropped %llu, flipped %llu\n", TtyLinkName(port).c_str(),
        static_cast<unsigned long long>(c.received), static_cast<unsigned long long>(c.passed),
        static_cast<unsigned long long>(c.dropped), static_cast<unsigned long long>(c.flipped));
  }
  return 0;
}

}  // namespace
}  // namespace quarnex

int main(int argc, char** argv) { return quarnex::Main(argc, argv); }
