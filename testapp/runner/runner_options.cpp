#include "testapp/runner/runner_options.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "testapp/platform/message_quote.h"
#include "testapp/report/text_format.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/config_file.h"
#include "testapp/station/station_features.h"

namespace quarnex {

namespace {

// Longest duration or interval accepted: long enough for any burn-in, short
// enough that the clock arithmetic stays exact.
constexpr double kMaxSeconds = 366.0 * 24 * 3600;

// Whole number in [min, max], the entire text; no sign for min >= 0.
bool ParseWhole(std::string_view text, int64_t min, int64_t max, int64_t* value) {
  if (text.empty() || (min >= 0 && text.front() == '-') || text.front() == '+') return false;
  int64_t parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

// A decimal number in (0, max] ("2", "0.5"); no exponent, no inf or nan.
bool ParsePositive(std::string_view text, double max, double* value) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos) return false;
  double parsed = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (!(parsed > 0) || parsed > max) return false;
  *value = parsed;
  return true;
}

// Each setter checks one value; on a bad value it returns false and says
// in *expected what the option takes.
using Setter = bool (*)(std::string_view value, RunnerOptions* options, std::string* expected);

bool SetPorts(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = FormatC("a port number or a range such as 1-8, numbers %d to %d, at most %d ports",
                      kMinPortNumber, kMaxPortNumber, kMaxPorts);
  const size_t dash = value.find('-');
  int64_t first = 0;
  int64_t last = 0;
  if (!ParseWhole(value.substr(0, dash), kMinPortNumber, kMaxPortNumber, &first)) return false;
  last = first;
  if (dash != std::string_view::npos &&
      !ParseWhole(value.substr(dash + 1), kMinPortNumber, kMaxPortNumber, &last)) {
    return false;
  }
  if (last < first || last - first + 1 > kMaxPorts) return false;
  o->port_index = static_cast<int32_t>(first);
  o->port_count = static_cast<int32_t>(last - first + 1);
  return true;
}

bool SetMode(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "loopback, receive or transmit";
  for (int32_t mode : {kLoopback, kReceiveOnly, kTransmitOnly}) {
    if (value == ModeName(mode)) {
      o->mode = mode;
      return true;
    }
  }
  return false;
}

bool SetPacketSize(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = FormatC("a whole number from 1 to %d", kMaxPacketSize);
  int64_t n = 0;
  if (!ParseWhole(value, 1, kMaxPacketSize, &n)) return false;
  o->packet_size = static_cast<int32_t>(n);
  return true;
}

bool SetFile(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = FormatC("a file name of 1 to %zu characters", kMaxFileNameLength);
  // The stored record holds the name with its NUL, so a NUL inside or a
  // longer name could not be repeated from the window.
  if (value.empty() || value.size() > kMaxFileNameLength ||
      value.find('\0') != std::string_view::npos) {
    return false;
  }
  o->file = std::string(value);
  return true;
}

bool SetPauseAfter(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "a whole number, 0 for no limit";
  int64_t n = 0;
  if (!ParseWhole(value, 0, std::numeric_limits<int32_t>::max(), &n)) return false;
  o->pause_after = static_cast<int32_t>(n);
  return true;
}

bool SetDelay(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = FormatC("a whole number of milliseconds, 0 to %u", kMaxDelayMs);
  int64_t n = 0;
  if (!ParseWhole(value, 0, kMaxDelayMs, &n)) return false;
  o->delay_ms = static_cast<uint32_t>(n);
  return true;
}

bool SetUpdateInterval(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = FormatC("a whole number of milliseconds, 0 to %u", kMaxUpdateIntervalMs);
  int64_t n = 0;
  if (!ParseWhole(value, 0, kMaxUpdateIntervalMs, &n)) return false;
  o->update_interval_ms = static_cast<uint32_t>(n);
  return true;
}

// A quarnex.cfg entry as the file would hold it: a key of the table, "=",
// and a value that fits the reader's line.
bool SetConfigEntry(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "KEY=VALUE with a key of quarnex.cfg, such as BitRate=921600";
  const size_t equals = value.find('=');
  if (equals == std::string_view::npos || equals == 0) return false;
  const std::string_view key = value.substr(0, equals);
  const std::string_view entry = value.substr(equals + 1);
  if (!IsConfigKey(key) || entry.empty() || value.size() + 1 > kMaxPieceLength ||
      entry.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos) {
    return false;
  }
  // Unlike a line of the file, which keeps its lenient reading, a value
  // given here is refused unless the field holds it as written: a run at a
  // rate nobody asked for would pass as if it had been asked for.
  if (!IsCleanConfigValue(key, entry, false)) {
    ConfigValueRange range;
    ConfigKeyRange(key, &range);
    *expected = std::string(key) + "=VALUE with VALUE " + ConfigRangeText(range);
    return false;
  }
  o->config_overrides.emplace_back(std::string(key), std::string(entry));
  return true;
}

// A port and the device it opens, as the window's Port... dialog maps them.
bool SetDevice(std::string_view value, RunnerOptions* o, std::string* expected) {
  DeviceMapEntry entry;
  std::string problem;
  if (!ParseDeviceEntry(value, &entry, &problem)) {
    *expected = "N=PATH or N=PATH,loop (" + problem + ")";
    return false;
  }
  PutDeviceEntry(&o->devices, std::move(entry));
  return true;
}

bool SetInterval(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "seconds above 0, such as 1 or 0.5";
  return ParsePositive(value, kMaxSeconds, &o->interval_s);
}

bool SetDuration(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "seconds above 0, such as 60 or 2.5";
  double s = 0;
  if (!ParsePositive(value, kMaxSeconds, &s)) return false;
  o->duration_s = s;
  return true;
}

bool SetPackets(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "a whole number above 0";
  int64_t n = 0;
  if (!ParseWhole(value, 1, std::numeric_limits<int32_t>::max(), &n)) return false;
  o->packets_per_port = static_cast<int32_t>(n);
  return true;
}

bool SetMaxErrors(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "a whole number, 0 or more";
  int64_t n = 0;
  if (!ParseWhole(value, 0, std::numeric_limits<int32_t>::max(), &n)) return false;
  o->max_errors = static_cast<int32_t>(n);
  return true;
}

// Any positive figure: a file's whole judged packet may show well over
// 100 % of one packet's line time.
bool SetMinThroughput(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "a percentage above 0, such as 99 or 99.5";
  double pct = 0;
  if (!ParsePositive(value, std::numeric_limits<double>::max(), &pct)) return false;
  o->min_throughput_pct = pct;
  return true;
}

bool SetLog(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "a file name";
  if (value.empty() || value.find('\0') != std::string_view::npos) return false;
  o->log_path = std::string(value);
  return true;
}

// The station's name in the metrics and the history.
constexpr size_t kMaxLabelLength = 64;

bool SetLabel(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = FormatC("a name of 1 to %zu printable characters", kMaxLabelLength);
  if (value.empty() || value.size() > kMaxLabelLength) return false;
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  o->label = std::string(value);
  return true;
}

bool SetMetrics(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = kMetricsAddressForm;
  if (!IsMetricsAddress(value)) return false;
  o->metrics_address = std::string(value);
  return true;
}

bool SetMetricsLinger(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "seconds above 0, such as 5";
  return ParsePositive(value, kMaxSeconds, &o->metrics_linger_s);
}

bool SetDb(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "a file name";
  if (value.empty() || value.find('\0') != std::string_view::npos) return false;
  o->db_path = std::string(value);
  return true;
}

bool SetHistory(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "a file name";
  if (value.empty() || value.find('\0') != std::string_view::npos) return false;
  o->history_path = std::string(value);
  return true;
}

// A UTC date, YYYY-MM-DD, or a moment, YYYY-MM-DDTHH:MM:SSZ; kept in the
// second form, which the history's start times compare with as text.
bool SetSince(std::string_view value, RunnerOptions* o, std::string* expected) {
  *expected = "a UTC date YYYY-MM-DD or a moment YYYY-MM-DDTHH:MM:SSZ";
  std::string moment(value);
  if (moment.size() == 10) moment += "T00:00:00Z";
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (moment.size() != kShape.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = moment[i] >= '0' && moment[i] <= '9';
    if (kShape[i] == 'd' ? !digit : moment[i] != kShape[i]) return false;
  }
  const auto field = [&moment](size_t at) { return std::stoi(moment.substr(at, 2)); };
  if (field(5) < 1 || field(5) > 12 || field(8) < 1 || field(8) > 31 || field(11) > 23 ||
      field(14) > 59 || field(17) > 60) {
    return false;
  }
  o->since = std::move(moment);
  return true;
}

std::string StoredText(int64_t value) {
  return FormatC("stored setting, now %lld", static_cast<long long>(value));
}

struct OptionSpec {
  const char* name;
  const char* value_name;  // null: a flag without value
  Setter set;              // null for flags
  bool RunnerOptions::*flag;
  const char* help;
  // The default shown by --help.
  std::string (*default_text)(const Settings& stored);
};

std::string NoDefault(const Settings&) { return ""; }

const OptionSpec kOptions[] = {
    {"--ports", "A-B", SetPorts, nullptr, "ports A to B (or one port A), at most 128",
     [](const Settings& s) {
       // 64-bit: the sum of two stored 32-bit values.
       const int64_t last = int64_t{s.Test.PortIndex} + s.Test.PortCount - 1;
       return FormatC("stored setting, now %d-%lld", s.Test.PortIndex,
                      static_cast<long long>(last));
     }},
    {"--mode", "MODE", SetMode, nullptr,
     "loopback, receive or transmit (loopback alone drops a stored file)",
     [](const Settings& s) { return std::string("stored setting, now ") + ModeName(s.Test.Mode); }},
    {"--packet-size", "N", SetPacketSize, nullptr, "bytes per packet, 1 to 65536",
     [](const Settings& s) { return StoredText(s.PacketSize); }},
    {"--file", "PATH", SetFile, nullptr, "file to transmit or to compare with",
     [](const Settings& s) {
       if (s.Test.FileNameLength == 0) return std::string("stored setting, now none");
       return "stored setting, now " +
              std::string(s.Test.FileName, strnlen(s.Test.FileName, kFileNameSize));
     }},
    {"--no-file", nullptr, nullptr, &RunnerOptions::no_file,
     "use the generated pattern, not a file", NoDefault},
    {"--pause-after", "N", SetPauseAfter, nullptr,
     "each port stops on its own after N packets (0 = no limit)",
     [](const Settings& s) { return StoredText(s.Test.PauseAfter); }},
    {"--delay", "MS", SetDelay, nullptr, "pause of the transmitter in every packet cycle",
     [](const Settings& s) { return StoredText(s.Test.Delay); }},
    {"--update-interval", "MS", SetUpdateInterval, nullptr,
     "least time between two refreshes of a port's status",
     [](const Settings& s) { return StoredText(s.Test.UpdateInterval); }},
    {"--set", "KEY=VALUE", SetConfigEntry, nullptr,
     "a quarnex.cfg entry over the file for this run (repeatable)",
     [](const Settings&) { return std::string("the file alone"); }},
    {"--device", "N=PATH", SetDevice, nullptr,
     "port N opens the serial device PATH (sim: the simulated adapter; ,loop after PATH: "
     "the UART's internal loopback, no plug needed); repeatable",
     [](const Settings&) {
       return std::string("the window's map, else QUARNEX_TTY_DIR or the simulated adapter");
     }},
    {"--duration", "S", SetDuration, nullptr, "end the run after S seconds",
     [](const Settings&) { return std::string("run until Ctrl+C"); }},
    {"--packets", "N", SetPackets, nullptr, "end the run once every port has judged N packets",
     [](const Settings&) { return std::string("run until Ctrl+C"); }},
    {"--interval", "S", SetInterval, nullptr, "seconds between two reports",
     [](const Settings&) { return FormatC("%g", kDefaultReportIntervalS); }},
    {"--json", nullptr, nullptr, &RunnerOptions::json,
     "one JSON object per line: each report and the summary", NoDefault},
    {"--quiet", nullptr, nullptr, &RunnerOptions::quiet,
     "no reports while running, only the summary", NoDefault},
    {"--log", "PATH", SetLog, nullptr, "append the start and stop records to PATH",
     [](const Settings&) { return std::string(kLogFileName) + " in the current folder"; }},
    {"--no-log", nullptr, nullptr, &RunnerOptions::no_log, "keep no log", NoDefault},
    {"--max-errors", "N", SetMaxErrors, nullptr, "a port with more errors fails",
     [](const Settings&) { return FormatC("%d", kDefaultMaxErrors); }},
    {"--min-throughput", "PCT", SetMinThroughput, nullptr,
     "a port below PCT % of the line rate fails",
     [](const Settings&) { return std::string("no limit"); }},
    {"--stop-on-error", nullptr, nullptr, &RunnerOptions::stop_on_error,
     "end the run at the first bad packet of any port, and fail", NoDefault},
    {"--label", "NAME", SetLabel, nullptr,
     "the station's name in the metrics and the history (with --history: list its runs only)",
     [](const Settings&) { return std::string("the host name"); }},
    {"--metrics", "ADDR:PORT", SetMetrics, nullptr,
     "serve the run's metrics for Prometheus at http://ADDR:PORT/metrics", NoDefault},
    {"--metrics-linger", "S", SetMetricsLinger, nullptr,
     "keep serving the final metrics S seconds after the run (Ctrl+C ends it)",
     [](const Settings&) { return std::string("stop with the run"); }},
    {"--db", "FILE", SetDb, nullptr, "record the run and its ports in the SQLite file FILE",
     NoDefault},
    {"--db-intervals", nullptr, nullptr, &RunnerOptions::db_intervals,
     "with --db, also record every report's figures", NoDefault},
    {"--history", "FILE", SetHistory, nullptr,
     "list the runs recorded in FILE (a table, or JSON lines with --json) and exit", NoDefault},
    {"--since", "DATE", SetSince, nullptr,
     "with --history, the runs started at or after DATE (UTC, YYYY-MM-DD[THH:MM:SSZ])", NoDefault},
    {"--help", nullptr, nullptr, &RunnerOptions::help, "show this text and exit", NoDefault},
    {"--version", nullptr, nullptr, &RunnerOptions::version, "show the version and exit",
     NoDefault},
};

const OptionSpec* FindOption(std::string_view name) {
  if (name == "-h") name = "--help";
  for (const OptionSpec& spec : kOptions) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

// The options of the station's metrics and history: those that need
// another, and those this build cannot serve.
bool CheckStationOptions(const RunnerOptions& o, std::string* error) {
  if (o.db_intervals && !o.db_path) {
    *error = "--db-intervals needs --db";
  } else if (o.since && !o.history_path) {
    *error = "--since needs --history";
  } else if (o.metrics_linger_s > 0 && !o.metrics_address) {
    *error = "--metrics-linger needs --metrics";
  } else if (o.metrics_address && !QUARNEX_HAVE_PROMETHEUS) {
    *error = "--metrics is not available: quarnex-run was built without prometheus-cpp";
  } else if ((o.db_path || o.history_path) && !QUARNEX_HAVE_SQLITE) {
    *error = std::string(o.db_path ? "--db" : "--history") +
             " is not available: quarnex-run was built without SQLite";
  } else {
    return true;
  }
  return false;
}

}  // namespace

StationRun StationRunOf(const RunnerOptions& options) {
  StationRun run;
  run.label = options.label;
  if (!options.no_log) run.log_path = options.log_path;
  run.duration_s = options.duration_s;
  run.packets_per_port = options.packets_per_port;
  run.interval_s = options.interval_s;
  run.limits.max_errors = options.max_errors;
  run.limits.min_throughput_pct = options.min_throughput_pct;
  run.metrics_address = options.metrics_address;
  run.metrics_linger_s = options.metrics_linger_s;
  run.db_path = options.db_path;
  run.db_intervals = options.db_intervals;
  return run;
}

bool ParseRunnerOptions(const std::vector<std::string>& args, RunnerOptions* options,
                        std::string* error) {
  *options = RunnerOptions();
  bool log_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const OptionSpec* spec = arg.starts_with("-") ? FindOption(name) : nullptr;
    if (spec == nullptr) {
      *error = arg.starts_with("-") ? "unknown option '" + QuoteForMessage(name) + "'"
                                    : "unexpected argument '" + QuoteForMessage(arg) + "'";
      return false;
    }
    if (spec->set == nullptr) {
      if (equals != std::string_view::npos) {
        *error = std::string(spec->name) + " takes no value";
        return false;
      }
      options->*(spec->flag) = true;
      continue;
    }
    std::string_view value;
    if (equals != std::string_view::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      *error = std::string(spec->name) + " needs a value (" + spec->value_name + ")";
      return false;
    }
    log_given = log_given || spec->set == SetLog;
    std::string expected;
    if (!spec->set(value, options, &expected)) {
      *error =
          "bad value '" + QuoteForMessage(value) + "' for " + spec->name + ": expected " + expected;
      return false;
    }
  }
  if (options->file && options->no_file) {
    *error = "--file and --no-file exclude each other";
    return false;
  }
  if (options->no_log && log_given) {
    *error = "--log and --no-log exclude each other";
    return false;
  }
  return CheckStationOptions(*options, error);
}

void ApplyRunnerOverrides(const RunnerOptions& o, Settings* s) {
  if (o.port_index) s->Test.PortIndex = *o.port_index;
  if (o.port_count) s->Test.PortCount = *o.port_count;
  if (o.mode) {
    s->Test.Mode = *o.mode;
    // As the Test Settings dialog does: Loopback sends the pattern.
    if (*o.mode == kLoopback) s->Test.FileNameLength = 0;
  }
  if (o.packet_size) s->PacketSize = *o.packet_size;
  if (o.file) {
    std::memset(s->Test.FileName, 0, sizeof(s->Test.FileName));
    std::memcpy(s->Test.FileName, o.file->data(), o.file->size());
    s->Test.FileNameLength = static_cast<uint8_t>(o.file->size());
  }
  if (o.no_file) s->Test.FileNameLength = 0;
  if (o.pause_after) s->Test.PauseAfter = *o.pause_after;
  if (o.delay_ms) s->Test.Delay = *o.delay_ms;
  if (o.update_interval_ms) s->Test.UpdateInterval = *o.update_interval_ms;
}

std::string RunnerHelpText(const Settings& stored) {
  std::string text = FormatC(
      "Usage: %s [OPTION]...\n"
      "Runs the line test on the ports and settings stored by the window, without a\n"
      "window, and reads the line configuration from quarnex.cfg in the current folder.\n"
      "Options override the stored settings for this run only; nothing is saved.\n\n",
      kRunnerName);
  for (const OptionSpec& spec : kOptions) {
    std::string left = spec.name;
    if (spec.value_name != nullptr) left += std::string(" ") + spec.value_name;
    AppendFormatC(&text, "  %-24s %s\n", left.c_str(), spec.help);
    const std::string default_text = spec.default_text(stored);
    if (!default_text.empty())
      AppendFormatC(&text, "  %-24s (default: %s)\n", "", default_text.c_str());
  }
  text +=
      "\nExit status: 0 every port stayed inside the limits, 1 a port broke a limit,\n"
      "judged no good packet or could not be opened, or --stop-on-error met a bad\n"
      "packet, 2 the run could not start,\n"
      "3 a bad command line.\n"
      "Ctrl+C or SIGTERM ends the run as Stop does; a second one exits at once.\n";
  return text;
}

}  // namespace quarnex
