// Fuzz target: the command line of quarnex-run.
//
// The input is the argument list, each argument ended by a NUL byte (the
// last one may lack it). A refused command line gives one short line; an
// accepted one holds only values the options allow, and its overrides give
// settings the engine can use. The --help text names every option and the
// stored file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "testapp/runner/runner_options.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/config_file.h"
#include "testapp/settings/records.h"

namespace {

using namespace quarnex;

// A refusal quotes at most 80 characters of what was typed; with the
// option's name and what it expects the line stays well below this.
constexpr size_t kMaxMessageLength = 300;
constexpr double kMaxRunSeconds = 366.0 * 24 * 3600;

constexpr const char* kOptionNames[] = {
    "--ports",          "--mode",        "--packet-size", "--file",
    "--no-file",        "--pause-after", "--delay",       "--update-interval",
    "--duration",       "--packets",     "--interval",    "--json",
    "--quiet",          "--log",         "--no-log",      "--max-errors",
    "--min-throughput", "--help",        "--version",     "--set"};

std::vector<std::string> SplitArguments(std::string_view input) {
  std::vector<std::string> args;
  while (!input.empty()) {
    const size_t end = input.find('\0');
    args.emplace_back(input.substr(0, end));
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
  }
  return args;
}

void CheckAccepted(const RunnerOptions& o) {
  FUZZ_CHECK(o.port_index.has_value() == o.port_count.has_value());
  if (o.port_index) {
    FUZZ_CHECK(*o.port_index >= kMinPortNumber && *o.port_count >= 1 && *o.port_count <= kMaxPorts);
    FUZZ_CHECK(*o.port_index + *o.port_count - 1 <= kMaxPortNumber);
  }
  if (o.mode) FUZZ_CHECK(*o.mode >= kLoopback && *o.mode <= kTransmitOnly);
  if (o.packet_size) FUZZ_CHECK(*o.packet_size >= 1 && *o.packet_size <= kMaxPacketSize);
  if (o.file) {
    FUZZ_CHECK(!o.file->empty() && o.file->size() <= kMaxFileNameLength);
    FUZZ_CHECK(o.file->find('\0') == std::string::npos);
  }
  FUZZ_CHECK(!(o.file && o.no_file));
  if (o.pause_after) FUZZ_CHECK(*o.pause_after >= 0);
  if (o.delay_ms) FUZZ_CHECK(*o.delay_ms <= kMaxDelayMs);
  // Each --set entry is one the configuration file could hold.
  for (const auto& [key, value] : o.config_overrides) {
    FUZZ_CHECK(IsConfigKey(key) && !value.empty());
    FUZZ_CHECK(key.size() + value.size() + 2 <= kMaxPieceLength);
    FUZZ_CHECK(value.find_first_of(std::string_view("\n\r\0", 3)) == std::string::npos);
  }
  if (o.update_interval_ms) FUZZ_CHECK(*o.update_interval_ms <= kMaxUpdateIntervalMs);
  if (o.duration_s) FUZZ_CHECK(*o.duration_s > 0 && *o.duration_s <= kMaxRunSeconds);
  if (o.packets_per_port) FUZZ_CHECK(*o.packets_per_port >= 1);
  FUZZ_CHECK(o.interval_s > 0 && o.interval_s <= kMaxRunSeconds);
  FUZZ_CHECK(!o.log_path.empty());
  FUZZ_CHECK(o.max_errors >= 0);
  if (o.min_throughput_pct)
    FUZZ_CHECK(*o.min_throughput_pct > 0 && std::isfinite(*o.min_throughput_pct));
}

void CheckOverrides(const RunnerOptions& o, const Settings& before, const Settings& after) {
  const TestSettings& t = after.Test;
  FUZZ_CHECK(t.FileName[kMaxFileNameLength] == '\0');
  FUZZ_CHECK(t.Mode >= kLoopback && t.Mode <= kTransmitOnly);
  FUZZ_CHECK(t.PortIndex == (o.port_index ? *o.port_index : before.Test.PortIndex));
  FUZZ_CHECK(t.PortCount == (o.port_count ? *o.port_count : before.Test.PortCount));
  FUZZ_CHECK(after.PacketSize == (o.packet_size ? *o.packet_size : before.PacketSize));
  if (o.file) {
    FUZZ_CHECK(t.FileNameLength == o.file->size());
    FUZZ_CHECK(std::strlen(t.FileName) == o.file->size());
    FUZZ_CHECK(std::memcmp(t.FileName, o.file->data(), o.file->size()) == 0);
  }
  if (o.no_file || (o.mode == kLoopback && !o.file)) FUZZ_CHECK(t.FileNameLength == 0);
  if (o.delay_ms) FUZZ_CHECK(t.Delay == *o.delay_ms);
  if (o.update_interval_ms) FUZZ_CHECK(t.UpdateInterval == *o.update_interval_ms);
}

void CheckHelp(const Settings& stored) {
  const std::string help = RunnerHelpText(stored);
  for (const char* name : kOptionNames) FUZZ_CHECK(help.find(name) != std::string::npos);
  if (stored.Test.FileNameLength != 0) {
    FUZZ_CHECK(help.find(stored.Test.FileName) != std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args =
      SplitArguments(std::string_view(reinterpret_cast<const char*>(data), size));

  RunnerOptions options;
  std::string error;
  if (!ParseRunnerOptions(args, &options, &error)) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(error.size() < kMaxMessageLength);
    FUZZ_CHECK(error.find('\n') == std::string::npos);
    return 0;
  }
  CheckAccepted(options);

  Settings stored{};
  stored.Test = DefaultTestSettings();
  stored.Port = DefaultPortSettings();
  stored.PacketSize = kDefaultPacketSize;
  stored.Timeouts = kDefaultTimeouts;
  Settings settings = stored;
  ApplyRunnerOverrides(options, &settings);
  CheckOverrides(options, stored, settings);
  CheckHelp(settings);
  return 0;
}
