// The fixture of whole engine runs on kernel TTYs: a temporary working
// folder with its quarnex.cfg, a folder of port links that QUARNEX_TTY_DIR
// points at (StartRun opens the ports through the backend table as the program
// does), default settings for one Loopback port from port 1, and a
// RecordingView for the texts.
#ifndef QUARNEX_SERIAL_TTY_RUN_TEST_FIXTURE_H_
#define QUARNEX_SERIAL_TTY_RUN_TEST_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "serial/pty_test_util.h"
#include "serial/tty_ports.h"
#include "testapp/driver/open_device.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {

class TtyRunTest : public testing::Test {
 protected:
  // The test's own run context, on the heap (RunState holds 128 slots).
  // Declared first, so it is destroyed after everything its runs used.
  std::unique_ptr<RunContext> owned_context_ = std::make_unique<RunContext>();
  RunContext& context_ = *owned_context_;

  // Slot `i` of the test's run.
  PortContext& Slot(int i = 0) { return context_.run.Ports[i]; }

  // `config` is the quarnex.cfg of the run.
  explicit TtyRunTest(std::string config) : config_(std::move(config)) {}

  void SetUp() override {
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(work_.path());
    ASSERT_TRUE(WriteTextFile("quarnex.cfg", config_));
    Settings& s = context_.settings;
    s.Test = DefaultTestSettings();
    s.Port = DefaultPortSettings();
    s.Timeouts = kDefaultTimeouts;
    s.Test.PortIndex = 1;
    s.Test.PortCount = 1;
    s.Test.Mode = kLoopback;
    TesterOptions& options = context_.options;
    options.OverlapRead = options.OverlapWrite = options.IoctlIndex = options.NumberOverlap = 0;
    context_.devices.SetBackends(StandardBackends());
    context_.SetOutputs(&view_, &view_);
    ClearPortSlots(context_);
    ASSERT_EQ(setenv(kTtyDirVariable, links_.path().c_str(), 1), 0);
  }

  void TearDown() override {
    StopHeadlessRun(context_);
    unsetenv(kTtyDirVariable);
    std::filesystem::current_path(old_dir_);
  }

  const std::string config_;
  TempDir work_;
  TempDir links_;
  std::filesystem::path old_dir_;
  RecordingView view_{false};
};

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_TTY_RUN_TEST_FIXTURE_H_
