// quarnex-run: the line tester without a window, for labs, burn-in racks
// and CI jobs. See testapp/runner/README.md.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testapp/driver/device_map.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/runner/runner.h"
#include "testapp/runner/runner_options.h"
#include "testapp/runner/stop_signals.h"
#include "testapp/settings/configure_port.h"
#include "testapp/settings/device_map_store.h"
#include "testapp/settings/settings_io.h"
#include "testapp/settings/settings_state.h"
#include "testapp/station/pass_fail.h"
#include "testapp/station/station_outputs.h"
#include "testapp/wiring/device_backends.h"
#if defined(_WIN32)
#include <io.h>

#include "testapp/runner/console_win32.h"
#include "win32/registry_store.h"
#else
#include "testapp/settings/qsettings_store.h"
#endif

namespace {

// The store the window keeps its settings in: the registry on Windows,
// QSettings elsewhere.
std::unique_ptr<quarnex::SettingsStore> OpenProgramStore() {
#if defined(_WIN32)
  return quarnex::OpenWindowsStore();
#else
  return std::make_unique<quarnex::QSettingsStore>();
#endif
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quarnex;
  // Before any thread exists, so that every thread inherits the mask.
  BlockStopSignals();

  RunnerOptions options;
  std::string error;
  if (!ParseRunnerOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::fprintf(stderr, "%s: %s (see --help)\n", kRunnerName, error.c_str());
    return kExitUsage;
  }
  if (options.version) {
    std::printf("%s %s\n", kRunnerName, kRunnerVersion);
    return kExitPass;
  }
  if (options.history_path) {
    return PrintHistory(*options.history_path, options.label, options.since, options.json, stdout);
  }

  // The window's store, read as the window reads it at start; the runner
  // never writes it.
  // The settings, slots and outputs of the run; RunHeadless joins every
  // worker before it returns.
  const auto owned_context = std::make_unique<RunContext>();
  RunContext& context = *owned_context;
  DeviceMap devices;
  {
    const std::unique_ptr<SettingsStore> store = OpenProgramStore();
    LoadSettings(*store, &context.settings);
    devices = LoadDeviceMap(*store);
  }
  ClearPortSlots(context);
  if (options.help) {
    std::fputs(RunnerHelpText(context.settings).c_str(), stdout);
    return kExitPass;
  }
  ApplyRunnerOverrides(options, &context.settings);
  // A missing quarnex.cfg runs on an empty block, as the window does; one
  // that is there but cannot be read would run every port on a line nobody
  // configured, so the run does not start.
  if (std::string reason; !ConfigFileReadableOrMissing(kConfigFileName, &reason)) {
    std::fprintf(stderr, "%s: %s\n", kRunnerName,
                 ConfigFileDetail(kConfigFileName, reason).c_str());
    return kExitNoPorts;
  }
  // The window's map, with the ports --device names on those devices; the
  // others keep the default backend.
  for (const DeviceMapEntry& entry : options.devices.entries) PutDeviceEntry(&devices, entry);
  context.devices.SetMap(std::move(devices));
  context.devices.SetBackends(StandardBackends());

  // Standard output carries only reports and the summary: the runner keeps
  // its own handle on it and points descriptor 1 at standard error, where
  // any other text of the process then goes.
  std::fflush(stdout);
  const int results_fd = dup(STDOUT_FILENO);
  std::FILE* results = results_fd >= 0 ? fdopen(results_fd, "w") : nullptr;
  if (results == nullptr) {
    std::fprintf(stderr, "%s: cannot use standard output\n", kRunnerName);
    return kExitNoPorts;
  }
  dup2(STDERR_FILENO, STDOUT_FILENO);

  // The metrics endpoint and the history, before any port is opened.
  StationOutputs station;
  if (!station.Open(StationRunOf(options), &error)) {
    std::fprintf(stderr, "%s: %s\n", kRunnerName, error.c_str());
    std::fclose(results);
    return kExitNoPorts;
  }

  RunnerOutput output;
  output.out = results;
  std::optional<std::string> out_error;
  output.out_error = &out_error;
#if defined(_WIN32)
  output.terminal = UseVirtualTerminal(results);
#else
  output.terminal = isatty(results_fd) == 1;
#endif
  output.observers = station.Observers();

  StopRequest stop;
  int status = kExitNoPorts;
  {
    StopSignalWatcher watcher([&stop](int) { stop.Request(); });
    status = RunHeadless(context, options, output, stop);
    station.Linger(stop);
  }
  errno = 0;
  if (std::fclose(results) != 0 && !out_error) {
    out_error = errno != 0 ? std::strerror(errno) : "write error";
  }
  // The verdict did not reach whoever reads it: a script must not take the
  // status of a run it saw no summary of for a pass.
  if (out_error) {
    std::fprintf(stderr, "%s: standard output: %s\n", kRunnerName, out_error->c_str());
    // A failed line keeps its status 1: that is the news a script must
    // not miss.
    if (status == kExitPass) status = kExitOutput;
  }
  return status;
}
