// Peak memory of quarnex-run under every fault of the simulated adapter.
//
// Each case runs quarnex-run as a child process for --seconds (default 10)
// on 16 ports at 115200 bit/s, 1024-byte packets, in one mode (loopback,
// receive, transmit), with one fault at rate 1 on every port (or none, the
// baseline). The ports carry every far end at once: 1-4 loopback plugs,
// 5-8 sinks, 9-12 sources of the pattern, 13-16 two null-modem pairs.
// The child's peak RSS comes from wait4's ru_maxrss.
//
// Prints "name: value" lines:
//   sim_fault_rss_mib.FAULT.MODE   the peak RSS of each case (MiB)
//   sim_fault_peak_rss_mib         the largest of the faulted cases
//   sim_fault_rss_bound_mib        the bound they are held to
// and exits non-zero when a case went past the bound, crashed, ended with a
// status other than 0 or 1 (pass or fail), or outlived its duration by
// kGraceSeconds. Standard error gets each case's packets and exit status,
// and the runner's messages of a case that failed.
//
// The bound. Per port the adapter holds at most a receive buffer of 1024
// frames (kMaxFramesWaiting) and a transmit buffer of 64 (kMaxTxFramesBuffered,
// adapter/sim_port.h): with 1024-byte frames about 1.1 MiB and 0.1 MiB, some
// 19 MiB for 16 ports, on top of the runner itself with QtCore, near 10 MiB
// (the "none" cases show it). Every case fits in 30 MiB; 64 MiB leaves twice
// that for the allocator and the machine, and still catches any queue that
// grows with time: the transmit queue that once had no bound grew by some
// 400 MiB per second here, past the bound within the first second.
//
// Options: --seconds=N (default 10; at least 2), --fault=NAME (that fault
// alone), --bit-rate=N (the line rate of quarnex.cfg; default 115200, 0 for
// an unpaced line).
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "bench/bench_util.h"

namespace quarnex {
namespace {

namespace fs = std::filesystem;

constexpr double kBoundMib = 64;
// How long a child may run past its duration (start, stop and the summary)
// before it counts as hung.
constexpr double kGraceSeconds = 30;
constexpr char kPorts[] = "1-16";
constexpr char kFarEnds[] = "ports=1-16;5-8=sink;9-12=source;13-16=nullmodem";
// 8-bit characters, no parity; the BitRate line follows.
constexpr char kConfig[] = "RxCharacterSize=3\nTxCharacterSize=3\nParity=0\n";

struct Fault {
  const char* name;
  const char* item;  // the QUARNEX_SIM item; empty for the baseline
};
constexpr Fault kFaults[] = {
    {"none", ""},
    {"corrupt", "fault.corrupt=1"},
    {"drop", "fault.drop=1"},
    {"cut", "fault.cut=1"},
    {"linerr", "fault.linerr=1"},
    {"refuse", "fault.refuse=1"},
    {"hang", "fault.hang=1"},
    {"instant", "fault.instant=1"},
};
constexpr const char* kModes[] = {"loopback", "receive", "transmit"};

struct Outcome {
  double peak_rss_mib = 0;
  int status = 0;  // wait status
  bool hung = false;
  std::string packets;  // the summary's total, as printed
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The "packets" of the summary's "totals" object in the runner's last JSON
// line; "?" when there is none.
std::string SummaryPackets(const std::string& output) {
  const size_t totals = output.rfind("\"totals\":");
  if (totals == std::string::npos) return "?";
  const size_t key = output.find("\"packets\":", totals);
  if (key == std::string::npos) return "?";
  const size_t start = key + std::strlen("\"packets\":");
  const size_t end = output.find_first_not_of("0123456789", start);
  return output.substr(start, end - start);
}

Outcome RunCase(const fs::path& dir, const Fault& fault, const char* mode, double seconds) {
  std::vector<std::string> args = {QUARNEX_RUN_BINARY,
                                   "--ports",
                                   kPorts,
                                   "--mode",
                                   mode,
                                   "--packet-size",
                                   "1024",
                                   "--duration",
                                   std::to_string(seconds),
                                   "--no-log",
                                   "--quiet",
                                   "--json"};
  std::string sim = kFarEnds;
  if (fault.item[0] != '\0') sim += std::string(";") + fault.item;
  const std::string out_path = (dir / "run.out").string();
  const std::string err_path = (dir / "run.err").string();
  const pid_t pid =
      SpawnRunner(std::move(args), sim, (dir / "config").string(), out_path, err_path);
  Outcome o;
  if (pid < 0) {
    std::perror("fork");
    o.status = -1;
    return o;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds + kGraceSeconds);
  rusage usage{};
  for (;;) {
    const pid_t done = wait4(pid, &o.status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0) {
      std::perror("wait4");
      o.status = -1;
      return o;
    }
    if (!o.hung && std::chrono::steady_clock::now() > deadline) {
      o.hung = true;
      kill(pid, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  o.peak_rss_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
  o.packets = SummaryPackets(ReadFile(out_path));
  return o;
}

// What went wrong with a case; empty when it is inside every limit.
std::string Failure(const Outcome& o) {
  if (o.hung) return "still running after its duration";
  if (o.status == -1) return "could not run";
  if (WIFSIGNALED(o.status)) return "ended by signal " + std::to_string(WTERMSIG(o.status));
  if (!WIFEXITED(o.status) || WEXITSTATUS(o.status) > 1) {
    return "exit status " + std::to_string(WEXITSTATUS(o.status));
  }
  if (o.peak_rss_mib > kBoundMib) return "peak RSS above the bound";
  return "";
}

int Main(int argc, char** argv) {
  double seconds = 10;
  std::string only;
  long bit_rate = 115200;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (const char* v = OptionValue(arg, "--seconds=")) {
      seconds = std::atof(v);
    } else if (const char* v = OptionValue(arg, "--fault=")) {
      only = v;
    } else if (const char* v = OptionValue(arg, "--bit-rate=")) {
      bit_rate = std::atol(v);
    } else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (!(seconds >= 2)) {
    std::fprintf(stderr, "need --seconds of 2 or more\n");
    return 2;
  }
  std::string templ = (fs::temp_directory_path() / "sim-fault-bench-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = templ;
  fs::create_directories(dir / "config");
  std::ofstream(dir / "quarnex.cfg") << kConfig << "BitRate=" << bit_rate << "\n";
  fs::current_path(dir);

  double peak = 0;
  int failures = 0;
  for (const Fault& fault : kFaults) {
    if (!only.empty() && only != fault.name) continue;
    for (const char* mode : kModes) {
      const Outcome o = RunCase(dir, fault, mode, seconds);
      const std::string failure = Failure(o);
      std::printf("sim_fault_rss_mib.%s.%s: %.1f\n", fault.name, mode, o.peak_rss_mib);
      std::fflush(stdout);
      std::fprintf(stderr, "%s/%s: packets %s, exit status %d%s%s\n", fault.name, mode,
                   o.packets.c_str(), WIFEXITED(o.status) ? WEXITSTATUS(o.status) : -1,
                   failure.empty() ? "" : "; FAILED: ", failure.c_str());
      if (!failure.empty()) {
        ++failures;
        std::fprintf(stderr, "%.2000s", ReadFile(dir / "run.err").c_str());
      }
      if (fault.item[0] != '\0' && o.peak_rss_mib > peak) peak = o.peak_rss_mib;
    }
  }
  fs::current_path(dir.parent_path());
  fs::remove_all(dir);

  std::printf("sim_fault_peak_rss_mib: %.1f\n", peak);
  std::printf("sim_fault_rss_bound_mib: %.0f\n", kBoundMib);
  if (failures > 0) {
    std::fprintf(stderr, "sim_fault_bench: %d case(s) failed\n", failures);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace quarnex

int main(int argc, char** argv) { return quarnex::Main(argc, argv); }
