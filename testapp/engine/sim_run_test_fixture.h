// The fixture of the engine's end-to-end tests: whole runs through
// StartRun / StopRun / JoinAllPorts on a simulated adapter made for each
// test, in a temporary working folder, read back through a RecordingView
// and the port records.
#ifndef QUARNEX_ENGINE_SIM_RUN_TEST_FIXTURE_H_
#define QUARNEX_ENGINE_SIM_RUN_TEST_FIXTURE_H_

#include <dirent.h>
#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
// Old keywords windows.h still defines away; tests name variables so.
#undef far
#undef near
#endif
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "testapp/driver/device_name.h"
#include "testapp/driver/fake_backend.h"
#include "testapp/driver/open_device.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/platform/test_support.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {

// Forwards every call to the adapter's device and counts the purges, so a
// test can tell that each bad packet purged its port.
class CountingDevice : public Device {
 public:
  explicit CountingDevice(DeviceRef inner) : inner_(std::move(inner)) {}
  IoStatus Read(void* buffer, uint32_t length, Completion* c) override {
    return inner_->Read(buffer, length, c);
  }
  IoStatus Write(const void* data, uint32_t length, Completion* c) override {
    return inner_->Write(data, length, c);
  }
  IoStatus Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                   Completion* c) override {
    return inner_->Control(code, in, in_size, out, out_size, c);
  }
  IoStatus Result(const Completion& c) override { return inner_->Result(c); }
  bool ClearCommError(uint32_t* errors, uint32_t* error) override {
    return inner_->ClearCommError(errors, error);
  }
  bool Purge(uint32_t flags) override {
    purges_.fetch_add(1);
    return inner_->Purge(flags);
  }
  bool SetCommMask(uint32_t mask) override { return inner_->SetCommMask(mask); }
  void Close() override { inner_->Close(); }

  int purges() const { return purges_.load(); }

 private:
  DeviceRef inner_;
  std::atomic<int> purges_{0};
};

// Transfer timeouts of a second and more: the blocked-transfer timeout
// stays armed, yet a stall of a loaded test machine (a sanitizer build
// beside other tests has been seen to stop a process for a whole second)
// never ends a transfer on a good line. The product's default pair gives
// 1 s; with both values 0 only twice the packet time would remain.
inline constexpr TimeoutSettings kLongTransferTimeouts = {10000, 0};

inline FarEnd Far(FarEndKind kind, std::string file = "",
                  uint32_t frame_size = kDefaultSourceFrameSize) {
  FarEnd far;
  far.kind = kind;
  far.file = std::move(file);
  far.frame_size = frame_size;
  return far;
}

inline void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The percentage at the end of a time cell, "...  (99.8%)"; -1 when the
// cell has none.
inline double ThroughputPercent(const std::string& cell) {
  const size_t open = cell.rfind('(');
  if (open == std::string::npos || cell.find('%', open) == std::string::npos) return -1;
  return std::atof(cell.c_str() + open + 1);
}

// The average time, the first figure of a time cell "A, L, M (P%)".
inline double CellAverageMs(const std::string& cell) { return std::atof(cell.c_str()); }

// Checks a good port's time cell against the line: the percentage is the
// ideal time of `packets_per_judged` packets over the average the cell
// shows (to the cell's rounding), and never above the line rate. How close
// to the rate the tester comes is a speed figure, for the benchmarks.
inline void ExpectThroughputFollowsTheLine(const RunContext& context, const std::string& cell,
                                           double packets_per_judged) {
  const double percent = ThroughputPercent(cell);
  const double average = CellAverageMs(cell);
  ASSERT_GT(average, 0.0) << cell;
  const double ideal = context.run.ExpectedPacketTime.load() * packets_per_judged;
  // The cell rounds the average to 0.1 ms and the percentage to 0.1 %.
  const double low = ideal / (average + 0.05) * 100 - 0.1;
  const double high = ideal / std::max(average - 0.05, 1e-9) * 100 + 0.1;
  EXPECT_GE(percent, low) << cell;
  EXPECT_LE(percent, high) << cell;
  EXPECT_LE(percent, 100.1) << cell << ": faster than the line";
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// The process's open descriptors (Windows: kernel handles) and threads.
#if defined(_WIN32)
inline int CountOpenDescriptors() {
  DWORD handles = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &handles) ? static_cast<int>(handles) : -1;
}
inline int CountThreads() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    n += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return n;
}
#else
inline int CountOpenDescriptors() { return CountEntries("/proc/self/fd"); }
inline int CountThreads() { return CountEntries("/proc/self/task"); }
#endif

class SimRunTest : public testing::Test {
 protected:
  PortContext& Slot(int i) { return context_.run.Ports[i]; }

  void SetUp() override {
    ASSERT_TRUE(work_.entered());

    Settings& s = context_.settings;
    s.Test = DefaultTestSettings();
    s.Port = DefaultPortSettings();
    s.PacketSize = kDefaultPacketSize;
    // Every judged packet with a new end refreshes its row.
    s.Test.UpdateInterval = 0;
    s.Timeouts = kLongTransferTimeouts;
    TesterOptions& options = context_.options;
    options.OverlapRead = options.OverlapWrite = options.IoctlIndex = options.NumberOverlap = 0;
    // The programs' backends, unless a test installs its own adapter.
    context_.devices.SetBackends(StandardBackends());
    context_.SetOutputs(&view_, &view_);
    ClearPortSlots(context_);
  }

  void TearDown() override { StopHeadlessRun(context_); }

  // Ports 1..count with the far end `far`, faults on all of them;
  // `unplug` pulls ports that long after each open.
  void UseAdapter(int count, FarEnd far, FaultRates faults = {},
                  std::map<int, std::chrono::nanoseconds> unplug = {}) {
    SimConfig config;
    for (int n = 1; n <= count; ++n) config.ports[n] = far;
    config.faults = faults;
    config.unplug_after = std::move(unplug);
    config.seed = 7;
    adapter_ = std::make_shared<SimAdapter>(config);
    devices_.clear();
    context_.devices.SetBackends(FakeBackends([this](std::string_view path) -> DeviceRef {
      int n = 0;
      if (!ParseDevicePath(path, &n)) return nullptr;
      DeviceRef inner = adapter_->Open(n);
      if (!inner) return nullptr;
      auto device = std::make_shared<CountingDevice>(std::move(inner));
      devices_.push_back(device);
      return device;
    }));
    context_.settings.Test.PortCount = count;
  }

  // The line: 8-bit characters, no parity, `bit_rate`; `extra` adds keys.
  void Configure(int bit_rate, const std::string& extra = "") {
    ASSERT_TRUE(WriteTextFile("quarnex.cfg", "BitRate=" + std::to_string(bit_rate) +
                                                 "\nTxCharacterSize=3\nParity=0\n" + extra));
  }

  void UseFile(const std::string& name, const std::string& contents) {
    ASSERT_TRUE(WriteTextFile(name, contents));
    TestSettings& t = context_.settings.Test;
    std::snprintf(t.FileName, sizeof(t.FileName), "%s", name.c_str());
    t.FileNameLength = static_cast<uint8_t>(name.size());
  }

  SimPortState State(int n) {
    SimPortState state;
    EXPECT_TRUE(adapter_->PortState(n, &state));
    return state;
  }

  // The test's own run context, on the heap (RunState holds 128 slots).
  // Declared first, so it goes last, after every member its runs used.
  std::unique_ptr<RunContext> owned_context_ = std::make_unique<RunContext>();
  RunContext& context_ = *owned_context_;
  // The current directory of each test, under TMPDIR; removed after the
  // adapter, which may hold a source file in it.
  TempWorkFolder work_{"engine_e2e_test."};
  RecordingView view_;
  std::shared_ptr<SimAdapter> adapter_;
  std::vector<std::shared_ptr<CountingDevice>> devices_;
};

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_SIM_RUN_TEST_FIXTURE_H_
