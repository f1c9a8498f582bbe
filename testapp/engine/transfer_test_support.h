// Shared by the transmitter and receiver tests: scripted device answers, a
// device that runs an action right after a transfer started, a byte pattern,
// and the run state one port's transfers start from.
#ifndef QUARNEX_ENGINE_TRANSFER_TEST_SUPPORT_H_
#define QUARNEX_ENGINE_TRANSFER_TEST_SUPPORT_H_

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "testapp/driver/recording_device.h"
#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex::transfer_test {

using Op = RecordingDevice::Op;
using Answer = RecordingDevice::Answer;
using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t kPacket = 1024;
// A time stamp no transfer ever writes.
inline constexpr double kUnstamped = -1.0;

inline Answer Pending() { return Answer{Answer::kPending, kErrorSuccess, -1, {}}; }
// Done at once: `count` bytes moved (-1: all), nothing delivered.
inline Answer Done(int64_t count = -1) { return Answer{Answer::kDone, kErrorSuccess, count, {}}; }
// Done at once, delivering `data` (reads).
inline Answer DoneWith(Bytes data) {
  const auto count = static_cast<int64_t>(data.size());
  return Answer{Answer::kDone, kErrorSuccess, count, std::move(data)};
}
inline Answer Fail(uint32_t error) { return Answer{Answer::kFail, error, -1, {}}; }

// `size` bytes that repeat late and differ for each seed.
inline Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

// Runs a queued action right after a read or write started, on the caller's
// own thread and before it waits: the test completes the transfer, or stops
// the run, while it is pending. An empty action does nothing.
class HookedDevice : public RecordingDevice {
 public:
  using Action = std::function<void(Completion*)>;
  void AfterRead(Action action) { after_read_.push_back(std::move(action)); }
  void AfterWrite(Action action) { after_write_.push_back(std::move(action)); }

  IoStatus Read(void* buffer, uint32_t length, Completion* completion) override {
    const IoStatus status = RecordingDevice::Read(buffer, length, completion);
    RunNext(after_read_, completion);
    return status;
  }
  IoStatus Write(const void* data, uint32_t length, Completion* completion) override {
    const IoStatus status = RecordingDevice::Write(data, length, completion);
    RunNext(after_write_, completion);
    return status;
  }

 private:
  static void RunNext(std::deque<Action>& actions, Completion* completion) {
    if (actions.empty()) return;
    Action action = std::move(actions.front());
    actions.pop_front();
    if (action) action(completion);
  }

  std::deque<Action> after_read_;
  std::deque<Action> after_write_;
};

// The settings, tester options and run state of `context` one port's
// transfers start from in `mode`: no extra transfers, a fresh exit event, no
// stop, pause or file; `view` gets row 0 and becomes the context's outputs.
inline void ResetTransferRun(RunContext& context, int32_t mode, RecordingView& view) {
  Settings& settings = context.settings;
  settings.Test = TestSettings{};
  settings.Test.Mode = mode;
  settings.PacketSize = kPacket;
  context.options.OverlapRead.store(0);
  context.options.OverlapWrite.store(0);
  context.options.NumberOverlap.store(0);
  context.run.ExitEvent = MakeEvent(Event::Kind::kManualReset);
  context.run.StopFlag.store(0);
  context.run.PauseFlag.store(0);
  context.run.FileBuffer.reset();
  view.InsertRow(0, "Quarnex01");
  context.SetOutputs(&view, &view);
}

// File mode in `mode` with `file` as the file of the run of `context`.
inline void UseRunFile(RunContext& context, const Bytes& file, int32_t mode) {
  TestSettings& test = context.settings.Test;
  test.Mode = mode;
  test.FileNameLength = 8;
  test.FileSize = static_cast<uint32_t>(file.size());
  context.run.FileBuffer.reset(new uint8_t[file.size()]);
  std::copy(file.begin(), file.end(), context.run.FileBuffer.get());
}

}  // namespace quarnex::transfer_test

#endif  // QUARNEX_ENGINE_TRANSFER_TEST_SUPPORT_H_
