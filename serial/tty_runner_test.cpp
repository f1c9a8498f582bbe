// Two quarnex-run processes over a null-modem pair of pseudo-terminals that
// socat links (as a user would wire two real ports with a cable): one sends
// a file in Transmit only, the other compares what arrives with the same
// file in Receive only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_test_util.h"
#include "testapp/platform/test_support.h"
#include "testapp/runner/child_process_test_util.h"

namespace quarnex {
namespace {

namespace fs = std::filesystem;

// Generous: sanitizer builds are slow, and a hung process must still fail.
constexpr auto kPatience = std::chrono::seconds(60);
constexpr auto kPollPeriod = std::chrono::milliseconds(20);
constexpr double kPatienceSeconds = 60.0;

// The program's path on PATH; empty when it is not installed.
std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path candidate = fs::path(dir) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return "";
}

// A child process with its own environment additions, standard output and
// error in files of `dir`.
class Child : public ChildProcess {
 public:
  Child(const std::vector<std::string>& args, const std::vector<std::string>& extra_env,
        const fs::path& dir, const std::string& name)
      : ChildProcess(args, {}, extra_env, dir, dir / (name + ".out"), dir / (name + ".err")) {}
  // The exit status, or empty when it still runs after the patience.
  std::optional<int> Wait() { return ChildProcess::Wait(kPatienceSeconds); }
};

// True once another process holds the advisory lock of the TTY at `path`,
// which an opened port does.
bool PortTaken(const fs::path& path) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  return fd.valid() && flock(fd.get(), LOCK_EX | LOCK_NB) != 0;
}

TEST(TtyRunnerTest, TransmitOnlyInOneProcessReceiveOnlyInAnotherOverANullModemPair) {
  const std::string socat = FindOnPath("socat");
  if (socat.empty()) GTEST_SKIP() << "socat is not installed (scripts/install-deps installs it)";
  TempDir box;
  const fs::path ports = box.path() / "ports";
  fs::create_directories(ports);
  fs::create_directories(box.path() / "config");
  std::ofstream(box.path() / "quarnex.cfg") << "TxCharacterSize=3\nParity=0\nBitRate=1000000\n";
  // 64 chunks of 256 bytes, each different, so that a lost or repeated
  // chunk shows; the receiver takes 150 and so wraps around the file twice.
  std::string data(64 * 256, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 31 + i / 256) & 0xFF);
  std::ofstream(box.path() / "data.bin", std::ios::binary) << data;

  Child cable({socat, "-d", "-d", "pty,raw,echo=0,link=" + (ports / "Quarnex01").string(),
               "pty,raw,echo=0,link=" + (ports / "Quarnex02").string()},
              {}, box.path(), "socat");
  ASSERT_TRUE(
      Eventually([&] { return fs::exists(ports / "Quarnex01") && fs::exists(ports / "Quarnex02"); },
                 kPatience, kPollPeriod));

  const std::vector<std::string> env = {"QUARNEX_TTY_DIR=" + ports.string(),
                                        "XDG_CONFIG_HOME=" + (box.path() / "config").string()};
  const std::vector<std::string> common = {"--file", "data.bin", "--packet-size",
                                           "256",    "--no-log", "--quiet"};
  std::vector<std::string> receive = {QUARNEX_RUN_BINARY, "--ports",   "2",  "--mode",
                                      "receive",          "--packets", "150"};
  receive.insert(receive.end(), common.begin(), common.end());
  Child receiver(receive, env, box.path(), "receiver");
  // The receiver discards what waited on its port when it opens it, so the
  // transmitter starts only once the port is taken.
  ASSERT_TRUE(Eventually([&] { return PortTaken(ports / "Quarnex02"); }, kPatience, kPollPeriod))
      << receiver.Err();

  std::vector<std::string> transmit = {QUARNEX_RUN_BINARY, "--ports",    "1",  "--mode",
                                       "transmit",         "--duration", "120"};
  transmit.insert(transmit.end(), common.begin(), common.end());
  Child transmitter(transmit, env, box.path(), "transmitter");

  const std::optional<int> received = receiver.Wait();
  ASSERT_TRUE(received.has_value()) << "the receiver did not end";
  EXPECT_EQ(*received, 0) << receiver.Out() << receiver.Err();
  EXPECT_NE(receiver.Out().find("Result: PASS"), std::string::npos) << receiver.Out();

  // Ctrl+C ends the transmitter as Stop does.
  transmitter.Signal(SIGINT);
  const std::optional<int> transmitted = transmitter.Wait();
  ASSERT_TRUE(transmitted.has_value()) << "the transmitter did not end";
  EXPECT_EQ(*transmitted, 0) << transmitter.Out() << transmitter.Err();
  cable.Signal(SIGTERM);
  cable.Wait();
}

}  // namespace
}  // namespace quarnex
