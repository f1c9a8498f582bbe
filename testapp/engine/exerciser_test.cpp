// Tests of the control-request exerciser: on a scripted fake device the
// requests it sends, the texts it shows, its extra copies and how it ends;
// in a whole run on the simulated adapter its texts beside flowing packets.
#include "testapp/engine/exerciser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "testapp/driver/device_name.h"
#include "testapp/driver/open_device.h"
#include "testapp/driver/recording_device.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/sim_run_test_fixture.h"
#include "testapp/platform/test_support.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

using Op = RecordingDevice::Op;
using Answer = RecordingDevice::Answer;
using Bytes = std::vector<uint8_t>;

Answer Done(Bytes data = {}) {
  Answer a;
  a.data = std::move(data);
  return a;
}

Answer Pending() {
  Answer a;
  a.kind = Answer::kPending;
  return a;
}

Answer Fail(uint32_t error) {
  Answer a;
  a.kind = Answer::kFail;
  a.error = error;
  return a;
}

// Answers the control requests a test scripted and rejects every further
// one, so that an exerciser which sends more than the test expects ends
// instead of spinning through default answers.
class ScriptedDevice : public RecordingDevice {
 public:
  void Then(Answer answer) {
    Script(Op::kControl, std::move(answer));
    ++scripted_;
  }
  IoStatus Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                   Completion* completion) override {
    // Only the exerciser's thread sends, so nothing races this queue.
    if (sent_++ >= scripted_) Script(Op::kControl, Fail(kErrorInvalidFunction));
    return RecordingDevice::Control(code, in, in_size, out, out_size, completion);
  }
  std::vector<Request> Controls() const {
    std::vector<Request> out;
    for (const Request& r : Requests()) {
      if (r.op == Op::kControl) out.push_back(r);
    }
    return out;
  }

 private:
  std::atomic<int> scripted_{0};
  std::atomic<int> sent_{0};
};

class ExerciserTest : public testing::Test {
 protected:
  // The test's own run context, on the heap (RunState holds 128 slots).
  // Declared first, so it is destroyed after everything its runs used.
  std::unique_ptr<RunContext> owned_context_ = std::make_unique<RunContext>();
  RunContext& context_ = *owned_context_;

  void SetUp() override {
    context_.run.ExitEvent = MakeEvent(Event::Kind::kManualReset);
    context_.run.StopFlag.store(0);
    SetOptions(0, 0, 0);
    context_.SetOutputs(&view_, &view_);
    port_.Run = &context_;
    port_.Row = view_.InsertRow(0, "Quarnex01");
    port_.InUse.store(1);
    port_.Device.store(device_.get());
  }

  void TearDown() override {
    if (thread_.joinable()) {
      Stop();
      thread_.join();
    }
    ClosePort(port_);
  }

  void SetOptions(int32_t index, int32_t overlap, int32_t number) {
    TesterOptions& options = context_.options;
    options.IoctlIndex.store(index);
    options.OverlapIoctl.store(overlap);
    options.NumberOverlap.store(number);
  }

  void Start() {
    thread_ = std::thread([this] { result_ = IoctlExerciser(port_); });
  }
  int Join() {
    thread_.join();
    return result_;
  }
  void Stop() {
    context_.run.StopFlag.store(1);
    context_.run.ExitEvent->Set();
  }
  bool PendingReaches(size_t n) {
    return Eventually([&] { return device_->PendingCount(Op::kControl) == n; });
  }
  std::vector<std::string> CellTexts() const {
    return view_.CellHistory(port_.Row, kColumnLastCommError);
  }
  // The port was closed once, the way ClosePort does it.
  void ExpectClosed() const {
    EXPECT_EQ(port_.InUse.load(), 0);
    EXPECT_EQ(device_->CloseCount(), 1);
    EXPECT_EQ(device_->CommMasks(), std::vector<uint32_t>{0});
    EXPECT_EQ(port_.Orphans.Size(), 0u);
  }

  std::shared_ptr<ScriptedDevice> device_ = std::make_shared<ScriptedDevice>();
  PortContext port_;
  RecordingView view_;
  std::thread thread_;
  int result_ = -1;
};

// Each index sends its own code with its input values and output size; a
// request done at once shows the label, or for the indices with a value
// text the empty CellText, which wipes what the cell held before.
TEST_F(ExerciserTest, EachIndexSendsItsRequestAndShowsItsLabel) {
  struct Case {
    int32_t index;
    uint32_t code;
    Bytes input;
    uint32_t out_size;
    const char* cell;
  };
  const Case cases[] = {
      {1, 0x80002004, {}, 338, "IOCTL 1"},
      {2, 0x80006008, {12}, 1, "IOCTL 2"},
      {3, 0x8000A00C, {15, 1, 0}, 0, "IOCTL 3"},
      {4, 0x80002010, {0x00, 0x02, 0x00, 0x00}, 4, ""},
      {5, 0x80002014, {}, 0, "IOCTL 5"},
      {9, 0x80002024, {}, 0, "IOCTL 9"},
      {13, 0x80002034, {}, 0, "IOCTL 13"},
      {14, 0x80002038, {}, 1, ""},
      {15, 0x8000203C, {}, 1, ""},
      {16, 0x80002040, {}, 1, ""},
      {17, 0x80002044, {}, 0, "IOCTL 17"},
      {20, 0x80002050, {}, 0, "IOCTL 20"},
      {21, 0x80002054, {10, 0, 0, 0, 5, 0, 0, 0}, 0, "IOCTL 21"},
      {22, 0x80002058, {}, 8, "IOCTL 22"},
      {23, 0x8000205C, {}, 0, "IOCTL 23"},
      {24, 0x80002070, {}, 1, ""},
      {25, 0x80002074, {}, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    auto device = std::make_shared<ScriptedDevice>();
    device->Then(Done({0x5A}));  // the second request is rejected
    PortContext port;
    port.Run = port_.Run;
    port.Row = port_.Row;
    port.InUse.store(1);
    port.Device.store(device.get());
    view_.SetCell(port.Row, kColumnLastCommError, "Break");
    SetOptions(c.index, 0, 0);

    EXPECT_EQ(IoctlExerciser(port), 1);
    const auto controls = device->Controls();
    ASSERT_EQ(controls.size(), 2u);
    for (const auto& r : controls) {
      EXPECT_EQ(r.code, c.code);
      EXPECT_EQ(r.input, c.input);
      EXPECT_EQ(r.length, c.out_size);
      EXPECT_TRUE(r.overlapped);
    }
    EXPECT_EQ(view_.Cell(port.Row, kColumnLastCommError), c.cell);
    EXPECT_EQ(device->CloseCount(), 1);
  }
}

TEST_F(ExerciserTest, LabelIsShownAfterEveryRequest) {
  device_->Then(Done());
  device_->Then(Pending());
  device_->Then(Done());
  SetOptions(13, 0, 0);
  Start();
  ASSERT_TRUE(PendingReaches(1));
  EXPECT_EQ(CellTexts(), std::vector<std::string>{"IOCTL 13"});
  ASSERT_TRUE(device_->CompleteNext(Op::kControl));
  EXPECT_EQ(Join(), 1);
  EXPECT_EQ(CellTexts(), std::vector<std::string>(3, "IOCTL 13"));
  EXPECT_EQ(device_->Controls().size(), 4u);
  ExpectClosed();
}

// A pending request's answer becomes the cell text once it completed; a
// later request done at once shows that text again, not its own answer.
TEST_F(ExerciserTest, PendingAnswerBecomesTheValueText) {
  struct Case {
    int32_t index;
    Bytes answer;
    const char* text;
  };
  const Case cases[] = {
      {4, {0x10, 0x00, 0x00, 0x00}, "IOCTL4 WaitMask 0x10"},
      {4, {0x00, 0x01, 0x02, 0x00}, "IOCTL4 WaitMask 0x20100"},
      {24, {0x01}, "IOCTL 80002070  value 0x01"},
      {14, {0xAB}, "IOCTL 80002038  value 0xab"},
      {16, {0x07}, "IOCTL 80002040  value 0x07"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    device_ = std::make_shared<ScriptedDevice>();
    port_.InUse.store(1);
    port_.Device.store(device_.get());
    device_->Then(Pending());
    device_->Then(Done(Bytes(c.answer.size(), 0x66)));
    SetOptions(c.index, 0, 0);
    Start();
    ASSERT_TRUE(PendingReaches(1));
    ASSERT_TRUE(device_->CompleteNext(Op::kControl, kErrorSuccess, c.answer));
    EXPECT_EQ(Join(), 1);
    EXPECT_EQ(CellTexts().back(), c.text);
    EXPECT_EQ(view_.Cell(port_.Row, kColumnLastCommError), c.text);
    // The answer overwrote the input of request 4; it is set again.
    const auto controls = device_->Controls();
    ASSERT_EQ(controls.size(), 3u);
    EXPECT_EQ(controls[1].input, controls[0].input);
  }
}

// The completion status is not examined: an aborted request still shows
// the value buffer as it is.
TEST_F(ExerciserTest, CompletionStatusIsNotExamined) {
  device_->Then(Pending());
  device_->Then(Pending());
  SetOptions(15, 0, 0);
  Start();
  ASSERT_TRUE(PendingReaches(1));
  ASSERT_TRUE(device_->CompleteNext(Op::kControl, kErrorSuccess, {0x42}));
  ASSERT_TRUE(PendingReaches(1));
  ASSERT_TRUE(device_->CompleteNext(Op::kControl, kErrorGenFailure));
  EXPECT_EQ(Join(), 1);
  EXPECT_EQ(CellTexts(), std::vector<std::string>(2, "IOCTL 8000203c  value 0x42"));
}

TEST_F(ExerciserTest, ExtraCopiesPerCycle) {
  struct Case {
    int32_t overlap;
    int32_t number;
    size_t per_cycle;
  };
  const Case cases[] = {
      {1, 3, 4},     {0, 3, 1}, {1, 0, 1}, {1, 1000, 1001}, {1, 5000, 1001},  // clamped
      {1, -1, 1001},  // taken as unsigned, then clamped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.overlap << " " << c.number);
    device_ = std::make_shared<ScriptedDevice>();
    port_.InUse.store(1);
    port_.Device.store(device_.get());
    // The first cycle is answered in full; in the second every request is
    // rejected, and the one waited for ends the thread.
    for (size_t i = 0; i < c.per_cycle; ++i) device_->Then(Done());
    SetOptions(13, c.overlap, c.number);
    const size_t texts_before = CellTexts().size();
    Start();
    EXPECT_EQ(Join(), 1);
    const auto controls = device_->Controls();
    EXPECT_EQ(controls.size(), 2 * c.per_cycle);
    for (const auto& r : controls) ASSERT_TRUE(r.code == 0x80002034 && r.overlapped);
    EXPECT_EQ(CellTexts().size(), texts_before + 1);
  }
}

// Only the last request of a cycle is waited for: the copies complete
// without waking the thread, and their answers never reach the buffers the
// cell text is made from.
TEST_F(ExerciserTest, OnlyTheLastRequestIsWaitedFor) {
  for (int i = 0; i < 4; ++i) device_->Then(Pending());
  SetOptions(24, 1, 3);
  Start();
  ASSERT_TRUE(PendingReaches(4));
  EXPECT_EQ(port_.Orphans.Size(), 3u);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(device_->CompleteNext(Op::kControl, kErrorSuccess, {0xEE}));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(device_->Controls().size(), 4u);
  EXPECT_TRUE(CellTexts().empty());
  // No answer byte: the value buffer still holds what no copy may write.
  ASSERT_TRUE(device_->CompleteNext(Op::kControl));
  EXPECT_EQ(Join(), 1);
  EXPECT_EQ(CellTexts(), std::vector<std::string>{"IOCTL 80002070  value 0x00"});
  EXPECT_EQ(device_->Controls().size(), 8u);
  ExpectClosed();
}

TEST_F(ExerciserTest, RejectedRequestEndsAndClosesThePort) {
  device_->Then(Done());
  device_->Then(Fail(kErrorGenFailure));
  device_->Then(Done());
  SetOptions(13, 0, 0);
  EXPECT_EQ(IoctlExerciser(port_), 1);
  EXPECT_EQ(device_->Controls().size(), 2u);
  EXPECT_EQ(CellTexts(), std::vector<std::string>{"IOCTL 13"});
  ExpectClosed();
}

// Stop releases a thread that waits for a request (with copies pending
// too); closing the port aborts them all before the thread's buffers go.
TEST_F(ExerciserTest, StopWhileRequestsPendEndsAndClosesThePort) {
  for (int32_t number : {0, 8}) {
    SCOPED_TRACE(number);
    device_ = std::make_shared<ScriptedDevice>();
    port_.InUse.store(1);
    port_.Device.store(device_.get());
    context_.run.StopFlag.store(0);
    context_.run.ExitEvent = MakeEvent(Event::Kind::kManualReset);
    for (int32_t i = 0; i <= number; ++i) device_->Then(Pending());
    SetOptions(4, 1, number);
    Start();
    ASSERT_TRUE(PendingReaches(static_cast<size_t>(number) + 1));
    Stop();
    EXPECT_EQ(Join(), 1);
    EXPECT_EQ(device_->PendingCount(Op::kControl), 0u);
    EXPECT_TRUE(CellTexts().empty());
    ExpectClosed();
  }
}

// The reader may close the port while a request pends: the abort wakes the
// exerciser, whose next request fails on the closed port and ends it.
TEST_F(ExerciserTest, PortClosedByAnotherThreadEndsTheExerciser) {
  device_->Then(Pending());
  SetOptions(23, 0, 0);
  Start();
  ASSERT_TRUE(PendingReaches(1));
  ClosePort(port_);
  EXPECT_EQ(Join(), 1);
  EXPECT_EQ(CellTexts(), std::vector<std::string>{"IOCTL 23"});
  EXPECT_EQ(device_->Controls().size(), 1u);
  ExpectClosed();
}

// IoctlIndex 0 ends the exerciser like a stop; an index that names no
// request sends nothing and leaves the port to its packet traffic.
TEST_F(ExerciserTest, IndexWithoutRequestSendsNothing) {
  struct Case {
    int32_t index;
    bool closes;
  };
  for (const Case& c : {Case{0, true}, Case{26, false}, Case{-1, false}}) {
    SCOPED_TRACE(c.index);
    device_ = std::make_shared<ScriptedDevice>();
    port_.InUse.store(1);
    port_.Device.store(device_.get());
    SetOptions(c.index, 1, 3);
    EXPECT_EQ(IoctlExerciser(port_), 1);
    EXPECT_TRUE(device_->Requests().empty());
    EXPECT_EQ(port_.InUse.load(), c.closes ? 0 : 1);
    EXPECT_EQ(device_->CloseCount(), c.closes ? 1 : 0);
    EXPECT_TRUE(CellTexts().empty());
  }
}

// Whole Loopback runs on the simulated adapter with the options from
// quarnex.cfg: column 5 shows the exerciser's texts while packets keep
// flowing, and Stop ends the exerciser and all its copies mid-flight.
class ExerciserRunTest : public SimRunTest {
 protected:
  void SetUp() override {
    SimRunTest::SetUp();
    UseAdapter(2, FarEnd{});
  }
};

TEST_F(ExerciserRunTest, TextsShowWhilePacketsFlow) {
  struct Case {
    const char* options;
    const char* cell;
  };
  const Case cases[] = {
      // The wait-mask request completes with every frame that arrives.
      {"IoctlIndex=4\nOverlapIoctl=0\n", "IOCTL4 WaitMask 0x10"},
      {"IoctlIndex=4\nOverlapIoctl=1\nNumberOverlap=8\n", "IOCTL4 WaitMask 0x10"},
      // The line-error byte pends briefly; its copies complete on the
      // adapter's timer thread while the exerciser reads its own answer.
      {"IoctlIndex=15\nOverlapIoctl=1\nNumberOverlap=8\n", "IOCTL 8000203c  value 0x00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    ASSERT_TRUE(WriteTextFile("quarnex.cfg", std::string("BitRate=1000000\nTxCharacterSize=3\n"
                                                         "Parity=0\n") +
                                                 c.options));
    ASSERT_TRUE(StartHeadlessRun(context_));
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      PortContext& port = context_.run.Ports[i];
      ASSERT_TRUE(port.IoctlThread.joinable());
      ASSERT_TRUE(Eventually([&] {
        return view_.Cell(port.Row, kColumnLastCommError) == c.cell &&
               port.GoodPacketCount.load() >= 3;
      }));
      const int64_t good = port.GoodPacketCount.load();
      ASSERT_TRUE(Eventually([&] { return port.GoodPacketCount.load() >= good + 5; }));
      EXPECT_EQ(view_.Cell(port.Row, kColumnLastCommError), c.cell);
      EXPECT_EQ(port.ErrorCount.load(), 0)
          << "read failed " << port.ReadFailedCount.load() << ", write failed "
          << port.WriteFailedCount.load() << ", length " << port.LengthMismatchCount.load()
          << ", data " << port.DataMismatchCount.load() << ", status "
          << view_.Cell(port.Row, kColumnStatus);
      EXPECT_EQ(port.InUse.load(), 1);
    }
    StopHeadlessRun(context_);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(context_.run.Ports[i].InUse.load(), 0);
      EXPECT_EQ(context_.run.Ports[i].Orphans.Size(), 0u);
    }
  }
}

}  // namespace
}  // namespace quarnex
