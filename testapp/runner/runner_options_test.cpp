#include "testapp/runner/runner_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "testapp/station/station_features.h"

namespace quarnex {
namespace {

using Args = std::vector<std::string>;

RunnerOptions Parse(const Args& args) {
  RunnerOptions options;
  std::string error;
  EXPECT_TRUE(ParseRunnerOptions(args, &options, &error)) << error;
  return options;
}

TEST(RunnerOptionsTest, NoArgumentsKeepEveryStoredSettingAndRunUntilStopped) {
  const RunnerOptions o = Parse({});
  EXPECT_FALSE(o.port_index || o.port_count || o.mode || o.packet_size || o.file || o.pause_after ||
               o.delay_ms || o.update_interval_ms || o.duration_s || o.packets_per_port ||
               o.min_throughput_pct);
  EXPECT_EQ(o.interval_s, 1.0);
  EXPECT_EQ(o.max_errors, 0);
  EXPECT_EQ(o.log_path, "Quarnex.LOG");
  EXPECT_FALSE(o.json || o.quiet || o.no_log || o.no_file || o.help || o.version);
}

TEST(RunnerOptionsTest, ValuesAreTakenFromTheNextArgumentOrAfterEquals) {
  const RunnerOptions o = Parse({"--ports",
                                 "3-10",
                                 "--mode=receive",
                                 "--packet-size",
                                 "65536",
                                 "--file=data.bin",
                                 "--pause-after",
                                 "0",
                                 "--delay",
                                 "3600000",
                                 "--update-interval=0",
                                 "--interval",
                                 "0.25",
                                 "--duration=2.5",
                                 "--packets",
                                 "7",
                                 "--max-errors",
                                 "12",
                                 "--min-throughput",
                                 "1500.25",
                                 "--log",
                                 "rack.log",
                                 "--json",
                                 "--set",
                                 "BitRate=921600",
                                 "--set=Parity=1",
                                 "--set",
                                 "BitRate=64000",
                                 "--device",
                                 "2=/dev/ttyUSB1",
                                 "--device=1=/dev/serial/by-id/usb-x-if00,loop",
                                 "--device",
                                 "2=sim",
                                 "--stop-on-error",
                                 "--quiet"});
  EXPECT_EQ(o.port_index, 3);
  EXPECT_EQ(o.port_count, 8);
  EXPECT_EQ(o.mode, kReceiveOnly);
  EXPECT_EQ(o.packet_size, 65536);
  EXPECT_EQ(o.file, "data.bin");
  EXPECT_EQ(o.pause_after, 0);
  EXPECT_EQ(o.delay_ms, 3600000u);
  EXPECT_EQ(o.update_interval_ms, 0u);
  EXPECT_EQ(o.interval_s, 0.25);
  EXPECT_EQ(o.duration_s, 2.5);
  EXPECT_EQ(o.packets_per_port, 7);
  EXPECT_EQ(o.max_errors, 12);
  EXPECT_EQ(o.min_throughput_pct, 1500.25);
  EXPECT_EQ(o.log_path, "rack.log");
  EXPECT_TRUE(o.json && o.quiet);
  // In order, repeats kept: the last one wins as in the file.
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(o.config_overrides,
            (Entries{{"BitRate", "921600"}, {"Parity", "1"}, {"BitRate", "64000"}}));
  // One device per port, the last one named.
  EXPECT_EQ(FormatDeviceMap(o.devices), "1=/dev/serial/by-id/usb-x-if00,loop\n2=sim\n");
  EXPECT_TRUE(o.stop_on_error);
}

TEST(RunnerOptionsTest, PortRanges) {
  struct Case {
    const char* value;
    int32_t index;
    int32_t count;
  };
  for (const Case& c : {Case{"5", 5, 1}, Case{"1-8", 1, 8}, Case{"1-128", 1, 128},
                        Case{"872-999", 872, 128}, Case{"0", 0, 1}}) {
    const RunnerOptions o = Parse({"--ports", c.value});
    EXPECT_EQ(o.port_index, c.index) << c.value;
    EXPECT_EQ(o.port_count, c.count) << c.value;
  }
}

TEST(RunnerOptionsTest, BadCommandLinesGiveOneLineNamingTheOption) {
  struct Case {
    Args args;
    const char* named;  // must appear in the error
  };
  const Case cases[] = {
      {{"--bogus"}, "--bogus"},
      {{"start"}, "start"},
      {{"--ports", "1-129"}, "--ports"},
      {{"--ports", "8-1"}, "--ports"},
      {{"--ports", "1000"}, "--ports"},
      {{"--ports", "1-"}, "--ports"},
      {{"--ports", "-3"}, "--ports"},
      {{"--ports", "1,2"}, "--ports"},
      {{"--mode", "Loopback"}, "--mode"},
      {{"--packet-size", "0"}, "--packet-size"},
      {{"--packet-size", "65537"}, "--packet-size"},
      {{"--packet-size", "1k"}, "--packet-size"},
      {{"--packet-size", "+5"}, "--packet-size"},
      {{"--file", std::string(256, 'f')}, "--file"},
      {{"--file", ""}, "--file"},
      {{"--pause-after", "-1"}, "--pause-after"},
      {{"--delay", "3600001"}, "--delay"},
      {{"--update-interval", "x"}, "--update-interval"},
      {{"--interval", "0"}, "--interval"},
      {{"--interval", "1e3"}, "--interval"},
      {{"--duration", "-2"}, "--duration"},
      {{"--duration", "nan"}, "--duration"},
      {{"--packets", "0"}, "--packets"},
      {{"--max-errors", "-1"}, "--max-errors"},
      {{"--min-throughput", "0"}, "--min-throughput"},
      {{"--log", ""}, "--log"},
      {{"--duration"}, "--duration"},
      {{"--json=yes"}, "--json"},
      {{"--file", "a", "--no-file"}, "--no-file"},
      {{"--no-log", "--log", "x.log"}, "--no-log"},
      {{"--set", "NoSuchKey=1"}, "--set"},
      {{"--set", "bitrate=9600"}, "--set"},
      {{"--set", "BitRate"}, "--set"},
      {{"--set", "BitRate="}, "--set"},
      {{"--set", "=5"}, "--set"},
      {{"--set", "BitRate=" + std::string(100, '9')}, "--set"},
      {{"--device", "/dev/ttyUSB0"}, "--device"},
      {{"--device", "1000=/dev/ttyUSB0"}, "--device"},
      {{"--device", "1="}, "--device"},
      {{"--device", "1=/" + std::string(5000, 'd')}, "longer than 4095"},
      {{"--stop-on-error=1"}, "--stop-on-error"},
      // A huge or hostile value is quoted cut, on one line.
      {{"--mode", std::string(120000, 'm')}, "--mode"},
      {{"--ports", "1\n\x1b[2J"}, "--ports"},
      {{std::string(5000, 'x')}, "unexpected argument"},
  };
  for (const Case& c : cases) {
    RunnerOptions options;
    std::string error;
    EXPECT_FALSE(ParseRunnerOptions(c.args, &options, &error)) << c.args[0];
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
    EXPECT_LT(error.size(), 200u) << error;
  }
}

// Each --set value must be what its field holds, as written: the values
// that once ran a line unpaced, at a negative or wrapped rate or at 1 bit/s
// are refused with the key, the value and the range on one line.
TEST(RunnerOptionsTest, SetValuesAreCheckedAgainstTheirField) {
  struct Case {
    const char* entry;
    const char* range;  // nullptr: accepted
  };
  constexpr char k32[] = "a whole number from 0 to 2147483647";
  constexpr char k8[] = "a whole number from 0 to 255";
  const Case cases[] = {
      {"BitRate=abc", k32},
      {"BitRate=0x100", k32},
      {"BitRate=-5", k32},
      {"BitRate=4294967296", k32},
      {"BitRate=2147483648", k32},
      {"BitRate=99999999999999999999", k32},
      {"BitRate=1e6", k32},
      {"BitRate=+5", k32},
      {"BitRate= 5", k32},
      {"BitRate=5 ", k32},
      {"SyncCharacter1=256", k8},
      {"SyncCharacter1=-1", k8},
      {"NumberOverlap=2147483648", k32},
      {"BitRate=2147483647", nullptr},
      {"BitRate=0", nullptr},
      {"BitRate=007", nullptr},
      {"SyncCharacter1=255", nullptr},
      {"Loopback=1", nullptr},
      {"IoctlIndex=25", nullptr},
  };
  for (const Case& c : cases) {
    RunnerOptions options;
    std::string error;
    const bool parsed = ParseRunnerOptions({"--set", c.entry}, &options, &error);
    if (c.range == nullptr) {
      EXPECT_TRUE(parsed) << c.entry << ": " << error;
      continue;
    }
    EXPECT_FALSE(parsed) << c.entry;
    const std::string entry = c.entry;
    const std::string key = entry.substr(0, entry.find('='));
    EXPECT_EQ(error, "bad value '" + entry + "' for --set: expected " + key + "=VALUE with VALUE " +
                         c.range);
  }
}

TEST(RunnerOptionsTest, OverridesFollowTheTestSettingsDialog) {
  Settings stored{};
  stored.Test = DefaultTestSettings();
  stored.PacketSize = 1024;
  std::strcpy(stored.Test.FileName, "stored.bin");
  stored.Test.FileNameLength = 10;
  stored.Test.Mode = kTransmitOnly;

  Settings s = stored;
  ApplyRunnerOverrides(Parse({"--mode", "receive"}), &s);
  EXPECT_EQ(s.Test.Mode, kReceiveOnly);
  EXPECT_EQ(s.Test.FileNameLength, 10) << "another mode keeps the stored file";

  s = stored;
  ApplyRunnerOverrides(Parse({"--mode", "loopback"}), &s);
  EXPECT_EQ(s.Test.FileNameLength, 0) << "Loopback sends the pattern, as the dialog sets it";

  s = stored;
  ApplyRunnerOverrides(Parse({"--mode", "loopback", "--file", "x.bin"}), &s);
  EXPECT_EQ(s.Test.FileNameLength, 5);
  EXPECT_STREQ(s.Test.FileName, "x.bin") << "the longer stored name is cleared, not overlaid";

  s = stored;
  ApplyRunnerOverrides(Parse({"--no-file", "--ports", "9-12", "--packet-size", "77",
                              "--pause-after", "3", "--delay", "5", "--update-interval", "6"}),
                       &s);
  EXPECT_EQ(s.Test.FileNameLength, 0);
  EXPECT_EQ(s.Test.Mode, kTransmitOnly);
  EXPECT_EQ(s.Test.PortIndex, 9);
  EXPECT_EQ(s.Test.PortCount, 4);
  EXPECT_EQ(s.PacketSize, 77);
  EXPECT_EQ(s.Test.PauseAfter, 3);
  EXPECT_EQ(s.Test.Delay, 5u);
  EXPECT_EQ(s.Test.UpdateInterval, 6u);
}

TEST(RunnerOptionsTest, HelpListsEveryOptionWithTheStoredDefaults) {
  Settings stored{};
  stored.Test = DefaultTestSettings();
  stored.Test.PortIndex = 4;
  stored.Test.PortCount = 3;
  stored.PacketSize = 512;
  const std::string help = RunnerHelpText(stored);
  for (const char* option :
       {"--ports",       "--mode",           "--packet-size",     "--file",          "--no-file",
        "--pause-after", "--delay",          "--update-interval", "--duration",      "--packets",
        "--interval",    "--json",           "--quiet",           "--log",           "--no-log",
        "--max-errors",  "--min-throughput", "--device",          "--stop-on-error", "--help",
        "--version"}) {
    EXPECT_NE(help.find(std::string("  ") + option + " "), std::string::npos) << option;
  }
  EXPECT_NE(help.find("now 4-6"), std::string::npos);
  EXPECT_NE(help.find("now 512"), std::string::npos);
  EXPECT_NE(help.find("now loopback"), std::string::npos);
}

}  // namespace
}  // namespace quarnex

namespace quarnex {
namespace {

// A build without prometheus-cpp or SQLite (the Windows one) refuses the
// options of the missing part, saying why.
TEST(RunnerOptionsTest, OptionsOfAStationPartLeftOutOfTheBuildAreRefused) {
  const struct {
    bool built;
    Args args;
    const char* error;
  } kCases[] = {
      {QUARNEX_HAVE_PROMETHEUS != 0,
       {"--metrics", "127.0.0.1:9464"},
       "--metrics is not available: quarnex-run was built without prometheus-cpp"},
      {QUARNEX_HAVE_SQLITE != 0,
       {"--db", "runs.db"},
       "--db is not available: quarnex-run was built without SQLite"},
      {QUARNEX_HAVE_SQLITE != 0,
       {"--history", "runs.db"},
       "--history is not available: quarnex-run was built without SQLite"},
  };
  for (const auto& c : kCases) {
    RunnerOptions options;
    std::string error;
    EXPECT_EQ(ParseRunnerOptions(c.args, &options, &error), c.built) << c.args[0];
    if (!c.built) {
      EXPECT_EQ(error, c.error);
    }
  }
}

// What the station's outputs read of a run comes from the command line
// alone: the log unless --no-log, how the run ends and the limits.
TEST(RunnerOptionsTest, StationRunTakesTheLogTheEndAndTheLimitsOfTheCommandLine) {
  struct Case {
    Args args;
    std::optional<std::string> log_path;
    std::optional<double> duration_s;
    std::optional<int32_t> packets_per_port;
    double interval_s;
    int32_t max_errors;
    std::optional<double> min_throughput_pct;
  };
  const Case cases[] = {
      {{}, "Quarnex.LOG", std::nullopt, std::nullopt, 1.0, 0, std::nullopt},
      {{"--no-log"}, std::nullopt, std::nullopt, std::nullopt, 1.0, 0, std::nullopt},
      {{"--log", "rack.log", "--duration", "600", "--interval", "5"},
       "rack.log",
       600.0,
       std::nullopt,
       5.0,
       0,
       std::nullopt},
      {{"--packets", "1000", "--max-errors", "3", "--min-throughput", "90.5"},
       "Quarnex.LOG",
       std::nullopt,
       1000,
       1.0,
       3,
       90.5},
  };
  for (const Case& c : cases) {
    const StationRun run = StationRunOf(Parse(c.args));
    const std::string name = c.args.empty() ? "no arguments" : c.args.front();
    EXPECT_EQ(run.log_path, c.log_path) << name;
    EXPECT_EQ(run.duration_s, c.duration_s) << name;
    EXPECT_EQ(run.packets_per_port, c.packets_per_port) << name;
    EXPECT_EQ(run.interval_s, c.interval_s) << name;
    EXPECT_EQ(run.limits.max_errors, c.max_errors) << name;
    EXPECT_EQ(run.limits.min_throughput_pct, c.min_throughput_pct) << name;
    EXPECT_FALSE(run.label || run.metrics_address || run.db_path) << name;
  }
}

TEST(RunnerOptionsTest, StationOptionsKeepTheirValuesAndRefuseWhatTheyCannotUse) {
  if (!QUARNEX_HAVE_PROMETHEUS || !QUARNEX_HAVE_SQLITE) {
    GTEST_SKIP() << "built without prometheus-cpp or SQLite";
  }
  const RunnerOptions o = Parse({"--metrics", "[::1]:0", "--metrics-linger=2.5", "--label",
                                 "rack 4/slot 2", "--db", "runs.db", "--db-intervals"});
  EXPECT_EQ(o.metrics_address, "[::1]:0");
  EXPECT_EQ(o.metrics_linger_s, 2.5);
  EXPECT_EQ(o.label, "rack 4/slot 2");
  EXPECT_EQ(o.db_path, "runs.db");
  EXPECT_TRUE(o.db_intervals);
  const StationRun station = StationRunOf(o);
  EXPECT_EQ(station.metrics_address, "[::1]:0");
  EXPECT_EQ(station.metrics_linger_s, 2.5);
  EXPECT_EQ(station.label, "rack 4/slot 2");
  EXPECT_EQ(station.db_path, "runs.db");
  EXPECT_TRUE(station.db_intervals);
  EXPECT_EQ(Parse({"--history", "runs.db", "--since", "2026-01-31"}).since, "2026-01-31T00:00:00Z");
  EXPECT_EQ(Parse({"--history", "runs.db", "--since", "2026-01-31T08:30:00Z"}).since,
            "2026-01-31T08:30:00Z");
  EXPECT_EQ(Parse({"--metrics", "0.0.0.0:65535"}).metrics_address, "0.0.0.0:65535");

  struct Case {
    Args args;
    const char* error_part;
  };
  const Case cases[] = {
      {{"--metrics", "localhost:9464"}, "for --metrics"},
      {{"--metrics", "127.0.0.1"}, "for --metrics"},
      {{"--metrics", "127.0.0.1:65536"}, "for --metrics"},
      {{"--metrics", "::1:9464"}, "for --metrics"},
      {{"--metrics", "127.0.0.1:-1"}, "for --metrics"},
      {{"--label", ""}, "for --label"},
      {{"--label", std::string(65, 'x')}, "for --label"},
      {{"--label", "tab\there"}, "for --label"},
      {{"--history", "h.db", "--since", "2026-13-01"}, "for --since"},
      {{"--history", "h.db", "--since", "31.01.2026"}, "for --since"},
      {{"--history", "h.db", "--since", "2026-01-31T08:30:00"}, "for --since"},
      {{"--db-intervals"}, "--db-intervals needs --db"},
      {{"--since", "2026-01-31"}, "--since needs --history"},
      {{"--metrics-linger", "5"}, "--metrics-linger needs --metrics"},
  };
  for (const Case& c : cases) {
    RunnerOptions options;
    std::string error;
    EXPECT_FALSE(ParseRunnerOptions(c.args, &options, &error)) << c.args[0];
    EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace quarnex
