// Tests of the run controller on recording fake devices: the steps and
// messages of Start, the clamps, the pattern and packet time, closing a port
// exactly once, and the release of one run's objects before the next.
#include "testapp/engine/run_controller.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testapp/driver/control_codes.h"
#include "testapp/driver/device_name.h"
#include "testapp/driver/fake_backend.h"
#include "testapp/driver/open_device.h"
#include "testapp/driver/recording_device.h"
#include "testapp/engine/headless_run.h"
#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/run_context.h"
#include "testapp/platform/posix_test_compat.h"
#include "testapp/platform/test_support.h"
#include "testapp/report/recording_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

using Op = RecordingDevice::Op;

RecordingDevice::Answer PendingAnswer() {
  RecordingDevice::Answer answer;
  answer.kind = RecordingDevice::Answer::kPending;
  return answer;
}

// Reads stay pending until the device is purged or closed, so worker threads
// block instead of spinning through reads that complete at once. Writes
// complete at once.
class PendingReadDevice : public RecordingDevice {
 public:
  IoStatus Read(void* buffer, uint32_t length, Completion* completion) override {
    Script(Op::kRead, PendingAnswer());
    return RecordingDevice::Read(buffer, length, completion);
  }
  size_t WriteCount() const {
    size_t n = 0;
    for (const Request& r : Requests()) n += r.op == Op::kWrite;
    return n;
  }
};

// The fake devices answer at once: a wait of two seconds, checked every
// millisecond, is plenty.
constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(2);
constexpr std::chrono::milliseconds kPollPeriod{1};

class RunControllerTest : public testing::Test {
 protected:
  // The test's own run context, on the heap (RunState holds 128 slots).
  // Declared first, so it is destroyed after everything its runs used.
  std::unique_ptr<RunContext> owned_context_ = std::make_unique<RunContext>();
  RunContext& context_ = *owned_context_;

  void SetUp() override {
    ASSERT_TRUE(work_.entered());
    // An empty configuration: BitRate 0, every key at 0.
    ASSERT_TRUE(WriteTextFile("quarnex.cfg", ""));

    Settings& s = context_.settings;
    s.Test = DefaultTestSettings();
    s.Port = DefaultPortSettings();
    s.Timeouts = kDefaultTimeouts;
    s.PacketSize = kDefaultPacketSize;
    TesterOptions& options = context_.options;
    options.OverlapRead = options.OverlapWrite = options.IoctlIndex = options.NumberOverlap = 0;
    context_.SetOutputs(&view_, &view_);
    // Every open of an existing port gets a fresh device, so a test can tell
    // the devices of consecutive runs apart.
    context_.devices.SetBackends(FakeBackends([this](std::string_view path) -> DeviceRef {
      opened_.emplace_back(path);
      if (missing_.count(std::string(path)) != 0) return nullptr;
      auto device = std::make_shared<PendingReadDevice>();
      if (auto rate = line_rates_.find(std::string(path)); rate != line_rates_.end()) {
        // The block and the two values, then the line-rate request.
        device->Script(RecordingDevice::Op::kControl, {});
        device->Script(RecordingDevice::Op::kControl, {});
        RecordingDevice::Answer answer;
        for (int shift = 0; shift < 32; shift += 8) {
          answer.data.push_back(static_cast<uint8_t>(rate->second >> shift));
        }
        device->Script(RecordingDevice::Op::kControl, answer);
      }
      devices_[std::string(path)].push_back(device);
      return device;
    }));
    ClearPortSlots(context_);
  }

  void TearDown() override { StopHeadlessRun(context_); }

  // The device the latest open of port `n` returned.
  std::shared_ptr<PendingReadDevice> Latest(int n) { return devices_.at(DevicePath(n)).back(); }

  void UseFile(const std::string& name, const std::string& contents) {
    ASSERT_TRUE(WriteTextFile(name, contents));
    TestSettings& t = context_.settings.Test;
    std::snprintf(t.FileName, sizeof(t.FileName), "%s", name.c_str());
    t.FileNameLength = static_cast<uint8_t>(name.size());
  }

  // The current directory of each test, under TMPDIR.
  TempWorkFolder work_{"run_controller_test."};
  RecordingView view_;
  std::vector<std::string> opened_;
  std::set<std::string> missing_;
  // Ports whose devices answer the line-rate request with a rate.
  std::map<std::string, uint32_t> line_rates_;
  std::map<std::string, std::vector<std::shared_ptr<PendingReadDevice>>> devices_;
};

TEST_F(RunControllerTest, NoPortsFailsMiserably) {
  context_.settings.Test.PortCount = 0;
  EXPECT_FALSE(StartRun(context_));
  EXPECT_EQ(view_.Messages(),
            std::vector<std::string>{"Port(s) init process failed miserably.\nCan't run the test"});
  EXPECT_TRUE(opened_.empty());
}

TEST_F(RunControllerTest, StartShowsTheRateEachLineReallyRunsAt) {
  ASSERT_TRUE(WriteTextFile("quarnex.cfg", "BitRate=115200\n"));
  TestSettings& t = context_.settings.Test;
  t.PortIndex = 1;
  t.PortCount = 3;
  line_rates_[DevicePath(1)] = 115384;  // the driver rounded the rate
  line_rates_[DevicePath(3)] = 115200;  // port 2 cannot tell: taken as asked
  ASSERT_TRUE(StartRun(context_));
  LogFile log;
  ASSERT_TRUE(log.Open("test.log"));
  ReportRunStart(context_, log, view_);
  log.Close();

  EXPECT_EQ(view_.Status(kStatusSummary), "115200-115384    5N       1024");
  EXPECT_EQ(view_.Status(kStatusState), "Running");
  std::ifstream in("test.log", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(
      text.find("Flow control:        Rts/Cts\r\n\r\n"
                "Quarnex01: the line runs at 115384 bit/s, not the 115200 bit/s of BitRate\r\n"),
      std::string::npos)
      << text;
  EXPECT_EQ(text.find("Quarnex02:"), std::string::npos);
  EXPECT_EQ(text.find("Quarnex03:"), std::string::npos);
}

TEST_F(RunControllerTest, MissingPortIsReportedAndTheOthersRun) {
  TestSettings& t = context_.settings.Test;
  t.PortIndex = 1;
  t.PortCount = 3;
  missing_.insert(DevicePath(2));

  ASSERT_TRUE(StartRun(context_));
  // The opener named nothing it tried and gave no reason: the device name
  // and "not found" follow the message's first line.
  EXPECT_EQ(view_.Messages(), std::vector<std::string>{"Failed to open \\\\.\\Quarnex02\n"
                                                       "\\\\.\\Quarnex02: not found"});
  EXPECT_TRUE(view_.WholeRowsSelected());
  // The missing port keeps its row, in its place.
  ASSERT_EQ(view_.RowCount(), 3);
  EXPECT_EQ(view_.Cell(0, kColumnPort), "Quarnex01");
  EXPECT_EQ(view_.Cell(1, kColumnPort), "Quarnex02");
  EXPECT_EQ(view_.Cell(1, kColumnStatus), "Not opened");
  EXPECT_EQ(view_.Cell(2, kColumnPort), "Quarnex03");
  PortTable& ports = context_.run.Ports;
  EXPECT_EQ(ports[0].Row, 0);
  EXPECT_EQ(ports[1].Row, 1);
  EXPECT_TRUE(ports[1].NotOpened);
  EXPECT_FALSE(ports[0].NotOpened);
  EXPECT_EQ(ports[2].Row, 2);
  EXPECT_EQ(ports[0].InUse.load(), 1);
  EXPECT_EQ(ports[1].InUse.load(), 0);
  EXPECT_EQ(ports[1].Device.load(), nullptr);
  EXPECT_EQ(ports[2].InUse.load(), 1);

  // Both ports were configured and run: their pending read released the
  // writer, whose packet is the pattern.
  for (int n : {1, 3}) {
    auto device = Latest(n);
    const auto requests = device->Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, kIoctlSetConfiguration);
    EXPECT_EQ(requests[1].code, kIoctlSetTwoValues);
    ASSERT_TRUE(Eventually([&] { return device->WriteCount() >= 1; }, kPatience, kPollPeriod))
        << "port " << n;
  }
  std::vector<int32_t> open_ports;
  for (const PortCounters& c : SnapshotOpenPorts(context_)) open_ports.push_back(c.PortNumber);
  EXPECT_EQ(open_ports, (std::vector<int32_t>{1, 3}));

  StopHeadlessRun(context_);
  for (int n : {1, 3}) {
    EXPECT_EQ(Latest(n)->CloseCount(), 1);
    EXPECT_EQ(Latest(n)->CommMasks(), std::vector<uint32_t>{0});
  }
  EXPECT_TRUE(SnapshotOpenPorts(context_).empty());
}

// A thread starter that refuses its calls fail_from to fail_until - 1
// (counted from 1), as the system does under `ulimit -v`.
std::atomic<int> thread_starts{0};
std::atomic<int> fail_from{0};
std::atomic<int> fail_until{0};
bool StarterThatRunsOut(std::thread* thread, std::function<void()> body, std::string* reason) {
  const int call = thread_starts.fetch_add(1) + 1;
  if (call >= fail_from.load() && call < fail_until.load()) {
    *reason = "cannot create a thread: Resource temporarily unavailable";
    return false;
  }
  return StartThread(thread, std::move(body), reason);
}

// A port whose worker cannot be created fails with the reason and is
// closed, with the thread it did start; the other ports run; nothing
// aborts. With no thread at all the run does not start.
TEST_F(RunControllerTest, PortWhoseThreadCannotBeCreatedFailsAndIsClosed) {
  TestSettings& t = context_.settings.Test;
  t.PortIndex = 1;
  t.PortCount = 3;
  context_.start_thread = StarterThatRunsOut;
  thread_starts = 0;
  fail_from = 4;  // Loopback: a reader and a writer per port; port 2's writer
  fail_until = 5;
  ASSERT_TRUE(StartRun(context_));
  EXPECT_EQ(view_.Messages(),
            std::vector<std::string>{"Failed to create worker threads for \\\\.\\Quarnex02\n"
                                     "cannot create a thread: Resource temporarily unavailable"});
  PortTable& ports = context_.run.Ports;
  EXPECT_EQ(ports[1].InUse.load(), 0);
  EXPECT_EQ(Latest(2)->CloseCount(), 1);
  EXPECT_EQ(view_.RowCount(), 3);
  for (int n : {1, 3}) {
    auto device = Latest(n);
    ASSERT_TRUE(Eventually([&] { return device->WriteCount() >= 1; }, kPatience, kPollPeriod))
        << "port " << n;
  }
  StopHeadlessRun(context_);
  for (int n : {1, 2, 3}) EXPECT_EQ(Latest(n)->CloseCount(), 1) << "port " << n;

  const size_t shown = view_.Messages().size();
  thread_starts = 0;
  fail_from = 1;
  fail_until = std::numeric_limits<int>::max();
  EXPECT_FALSE(StartRun(context_));
  EXPECT_EQ(view_.Messages().size(), shown + 4);
  EXPECT_EQ(view_.Messages().back(), "Port(s) init process failed miserably.\nCan't run the test");
  for (int n : {1, 2, 3}) EXPECT_EQ(Latest(n)->CloseCount(), 1) << "port " << n;
  context_.start_thread = StartThread;
}

TEST_F(RunControllerTest, ShortFileLowersPacketSize) {
  const std::string contents(300, 'q');
  UseFile("short.bin", contents);
  context_.settings.Test.Mode = kTransmitOnly;
  context_.settings.Test.PauseAfter = 1;
  context_.settings.PacketSize = 1024;

  ASSERT_TRUE(StartRun(context_));
  EXPECT_EQ(context_.settings.PacketSize, 300);
  EXPECT_EQ(context_.settings.Test.FileSize, 300u);
  // Transmit only waits for the start sequence's release.
  auto device = Latest(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(device->WriteCount(), 0u);
  ReleaseWriter(context_.run.Ports[0]);
  ASSERT_TRUE(Eventually([&] { return device->WriteCount() == 1; }, kPatience, kPollPeriod));
  for (const auto& r : device->Requests()) {
    if (r.op == Op::kWrite) {
      EXPECT_EQ(std::string(r.input.begin(), r.input.end()), contents);
    }
  }
  StopHeadlessRun(context_);
  EXPECT_EQ(context_.settings.PacketSize, 300);
}

// The message keeps its text and adds the path and the reason. Nothing
// blocks on a FIFO, and nothing is read from a device file.
TEST_F(RunControllerTest, UnusableFileFailsBeforeAnyPort) {
  ASSERT_EQ(mkdir("folder.bin", 0700), 0);
  ASSERT_TRUE(WriteTextFile("empty.bin", ""));
#if !defined(_WIN32)
  ASSERT_EQ(mkfifo("fifo.bin", 0600), 0);
#endif
  const std::pair<const char*, const char*> cases[] = {
    {"empty.bin", "empty file"},
    {"absent.bin", "no such file"},
    {"folder.bin", "not a regular file"},
#if !defined(_WIN32)
    {"fifo.bin", "not a regular file"},
    {"/dev/zero", "not a regular file"},
#endif
  };
  for (const auto& [name, reason] : cases) {
    SCOPED_TRACE(name);
    TestSettings& t = context_.settings.Test;
    std::snprintf(t.FileName, sizeof(t.FileName), "%s", name);
    t.FileNameLength = static_cast<uint8_t>(std::strlen(name));
    EXPECT_FALSE(StartRun(context_));
    EXPECT_EQ(view_.Messages().back(),
              std::string("Error in getting specified file\n") + name + ": " + reason);
    EXPECT_EQ(context_.settings.Test.FileSize, 0u);
    EXPECT_EQ(view_.RowCount(), 0);
    EXPECT_TRUE(opened_.empty());
  }
}

TEST_F(RunControllerTest, PatternRestartsEveryBlockOf256) {
  context_.settings.PacketSize = 300;
  BuildTxPattern(context_);
  const auto& pattern = context_.run.TxPattern;
  struct Case {
    int index;
    char byte;
  };
  for (int i = 0; i < 26; ++i) EXPECT_EQ(pattern[i], 'A' + i);
  for (const Case& c :
       {Case{26, 'A'}, Case{234, 'A'}, Case{255, 'V'}, Case{256, 'A'}, Case{299, 'R'}}) {
    EXPECT_EQ(pattern[c.index], c.byte) << "byte " << c.index;
  }
}

// The port settings follow the line the block sets up, so the log and the
// status bar say what runs: character size, parity (odd at 1, even at any
// other nonzero value) and the bit rate when there is one.
TEST_F(RunControllerTest, PortSettingsAndExpectedPacketTimeFollowTheConfiguration) {
  struct Case {
    const char* config;
    int byte_size;
    int parity;
    int32_t baud_rate;
    double expected_ms;
  };
  const Case cases[] = {
      {"TxCharacterSize=2\nParity=1\nBitRate=9600\n", 6, 1, 9600, 7.0 * 1024 * 1000 / 9600},
      {"TxCharacterSize=0\nParity=0\nBitRate=19200\n", 5, 0, 19200, 5.0 * 1024 * 1000 / 19200},
      {"TxCharacterSize=1\nParity=-1\nBitRate=2000000000\n", 7, 2, 2000000000,
       8.0 * 1024 * 1000 / 2e9},
      {"TxCharacterSize=3\nParity=2\nBitRate=1000000\n", 8, 2, 1000000, 9.0 * 1024 * 1000 / 1e6},
      // An unknown code leaves ByteSize as it was (8 from the case before),
      // and no bit rate leaves BaudRate as it was.
      {"TxCharacterSize=9\nParity=0\nBitRate=0\n", 8, 0, 1000000,
       std::numeric_limits<double>::infinity()},
  };
  context_.settings.Test.Mode = kReceiveOnly;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    ASSERT_TRUE(WriteTextFile("quarnex.cfg", c.config));
    ASSERT_TRUE(StartRun(context_));
    EXPECT_EQ(context_.settings.Port.ByteSize, c.byte_size);
    EXPECT_EQ(context_.settings.Port.Parity, c.parity);
    EXPECT_EQ(context_.settings.Port.BaudRate, c.baud_rate);
    EXPECT_DOUBLE_EQ(context_.run.ExpectedPacketTime.load(), c.expected_ms);
    StopHeadlessRun(context_);
  }
  EXPECT_NEAR(cases[0].expected_ms, 746.6667, 1e-4);
}

TEST_F(RunControllerTest, NoBitRateGivesNoFiniteExpectedTime) {
  context_.settings.Test.Mode = kReceiveOnly;
  ASSERT_TRUE(StartRun(context_));  // the configuration names no BitRate
  EXPECT_TRUE(std::isinf(context_.run.ExpectedPacketTime.load()));
}

TEST_F(RunControllerTest, StoredValuesOutsideTheTableAreClamped) {
  missing_ = {};
  // Every open fails, so only the walk over the range is seen.
  context_.devices.SetBackends(FakeBackends([this](std::string_view path) -> DeviceRef {
    opened_.emplace_back(path);
    return nullptr;
  }));
  Settings& s = context_.settings;
  s.Test.PortIndex = 1;
  s.Test.PortCount = 500;
  EXPECT_FALSE(StartRun(context_));
  EXPECT_EQ(s.Test.PortCount, kMaxPorts);
  ASSERT_EQ(opened_.size(), static_cast<size_t>(kMaxPorts));
  EXPECT_EQ(opened_.front(), DevicePath(1));
  EXPECT_EQ(opened_.back(), DevicePath(kMaxPorts));
  EXPECT_EQ(view_.Messages().size(), static_cast<size_t>(kMaxPorts) + 1);

  struct Case {
    int32_t port_count, packet_size, want_port_count, want_packet_size;
  };
  for (const Case& c : {Case{-4, 0, 0, 1}, Case{0, -7, 0, 1}, Case{0, 100000, 0, kMaxPacketSize},
                        Case{0, 1024, 0, 1024}, Case{0, kMaxPacketSize, 0, kMaxPacketSize}}) {
    s.Test.PortCount = c.port_count;
    s.PacketSize = c.packet_size;
    EXPECT_FALSE(StartRun(context_));
    EXPECT_EQ(s.Test.PortCount, c.want_port_count);
    EXPECT_EQ(s.PacketSize, c.want_packet_size);
  }
}

TEST_F(RunControllerTest, PortNumbersPastIntAreReportedNotWrapped) {
  Settings& s = context_.settings;
  s.Test.PortIndex = std::numeric_limits<int32_t>::max() - 1;
  s.Test.PortCount = 3;
  missing_ = {DevicePath(s.Test.PortIndex), DevicePath(s.Test.PortIndex + 1)};
  EXPECT_FALSE(StartRun(context_));
  EXPECT_EQ(opened_.size(), 2u);
  const auto messages = view_.Messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[2],
            "Failed to open \\\\.\\Quarnex2147483648\n"
            "\\\\.\\Quarnex2147483648: no port has this number");
  EXPECT_EQ(view_.Cell(2, kColumnPort), "Quarnex2147483648");
  EXPECT_EQ(view_.Cell(2, kColumnStatus), "Not opened");
}

TEST_F(RunControllerTest, ClosePortClosesOnceHoweverManyThreadsRace) {
  auto port = std::make_unique<PortContext>();
  for (int round = 0; round < 200; ++round) {
    auto device = std::make_shared<RecordingDevice>();
    port->DeviceOwner = device;
    port->Device.store(device.get());
    port->InUse.store(1);
    // An orphan transfer the close aborts, and which goes with it.
    device->Script(Op::kRead, PendingAnswer());
    auto record = std::make_unique<Completion>();
    auto buffer = std::make_unique<uint8_t[]>(16);
    ASSERT_TRUE(device->Read(buffer.get(), 16, record.get()).pending());
    port->Orphans.Add(OrphanTransfer{std::move(record), std::move(buffer)});

    std::atomic<bool> go{false};
    std::vector<std::thread> closers;
    for (int t = 0; t < 4; ++t) {
      closers.emplace_back([&] {
        while (!go.load()) {
        }
        ClosePort(*port);
      });
    }
    go.store(true);
    for (auto& t : closers) t.join();
    ASSERT_EQ(device->CloseCount(), 1) << "round " << round;
    ASSERT_EQ(device->CommMasks(), std::vector<uint32_t>{0});
    EXPECT_EQ(port->InUse.load(), 0);
    EXPECT_EQ(port->Device.load(), nullptr);
    EXPECT_EQ(port->Orphans.Size(), 0u);
    ClosePort(*port);  // a free slot: nothing happens
    EXPECT_EQ(device->CloseCount(), 1);
  }
}

TEST_F(RunControllerTest, SweepKeepsOnlyUnfinishedTransfers) {
  OrphanList list;
  for (uint32_t status :
       {kErrorIoIncomplete, kErrorSuccess, kErrorOperationAborted, kErrorIoIncomplete}) {
    auto record = std::make_unique<Completion>();
    record->status.store(status);
    list.Add(OrphanTransfer{std::move(record), nullptr});
  }
  list.Sweep();
  EXPECT_EQ(list.Size(), 2u);
  list.Clear();
  EXPECT_EQ(list.Size(), 0u);
}

TEST_F(RunControllerTest, StartAfterPauseAndStopRunsUnpaused) {
  ASSERT_TRUE(StartRun(context_));
  auto first = Latest(1);
  ASSERT_TRUE(Eventually([&] { return first->WriteCount() == 1; }, kPatience, kPollPeriod));
  PauseRun(context_);
  StopRun(context_);
  ASSERT_TRUE(StartRun(context_));
  // A paused reader would leave its read pending without releasing the
  // writer; the new run's first packet must flow at once.
  auto second = Latest(1);
  ASSERT_NE(first, second);
  EXPECT_TRUE(Eventually([&] { return second->WriteCount() == 1; }, kPatience, kPollPeriod));
  EXPECT_EQ(context_.run.PauseFlag.load(), 0);
}

TEST_F(RunControllerTest, NewStartEndsTheOldRunBeforeTouchingSlots) {
  context_.settings.Test.PortCount = 4;
  for (int cycle = 0; cycle < 20; ++cycle) {
    ASSERT_TRUE(StartRun(context_));
    // No Stop: Start itself must stop the old threads and wait for them, so
    // none of them can close a device of the new run late.
  }
  for (int n = 1; n <= 4; ++n) {
    const auto& opened = devices_.at(DevicePath(n));
    ASSERT_EQ(opened.size(), 20u);
    for (size_t k = 0; k + 1 < opened.size(); ++k) EXPECT_EQ(opened[k]->CloseCount(), 1);
    EXPECT_EQ(opened.back()->CloseCount(), 0) << "port " << n;
    EXPECT_EQ(context_.run.Ports[n - 1].InUse.load(), 1);
  }
}

TEST_F(RunControllerTest, SlotLeftOpenByAPartialSetupIsClosedAtTheNextStart) {
  // A slot whose threads never started keeps its device open; nothing else
  // would ever close it.
  PortContext& leftover = context_.run.Ports[5];
  auto device = std::make_shared<RecordingDevice>();
  leftover.DeviceOwner = device;
  leftover.Device.store(device.get());
  leftover.InUse.store(1);
  ASSERT_TRUE(StartRun(context_));
  EXPECT_EQ(device->CloseCount(), 1);
  EXPECT_EQ(leftover.InUse.load(), 0);
  EXPECT_EQ(leftover.DeviceOwner, nullptr);
}

TEST_F(RunControllerTest, RunObjectsAreReleasedOnceTheThreadsEnded) {
  context_.settings.Test.PortCount = 2;
  UseFile("data.bin", std::string(2048, 'x'));
  ASSERT_TRUE(StartRun(context_));
  std::weak_ptr<Event> exit_event = context_.run.ExitEvent;
  std::weak_ptr<Event> write_event = context_.run.Ports[0].WriteEvent;
  std::weak_ptr<PendingReadDevice> device = Latest(1);
  ASSERT_TRUE(Eventually([&] { return context_.run.Ports[0].ReceiveBuffer.load() != nullptr; },
                         kPatience, kPollPeriod));
  EXPECT_EQ(context_.run.Ports[0].ReceiveBufferSize.load(), 1024u);
  devices_.clear();

  StopHeadlessRun(context_);
  EXPECT_TRUE(exit_event.expired());
  EXPECT_TRUE(write_event.expired());
  EXPECT_TRUE(device.expired());
  EXPECT_EQ(context_.run.FileBuffer, nullptr);
  for (const PortContext& port : context_.run.Ports) {
    EXPECT_EQ(port.ReceiveBuffer.load(), nullptr);
    EXPECT_FALSE(port.ReaderThread.joinable());
    EXPECT_FALSE(port.WriterThread.joinable());
  }
}

TEST_F(RunControllerTest, ReceiveOnlyHasNoWriter) {
  context_.settings.Test.Mode = kReceiveOnly;
  ASSERT_TRUE(StartRun(context_));
  PortContext& port = context_.run.Ports[0];
  EXPECT_EQ(port.WriteEvent, nullptr);
  EXPECT_TRUE(port.ReaderThread.joinable());
  EXPECT_FALSE(port.WriterThread.joinable());
  ContinueRun(context_);  // nothing to release; must not fail
  EXPECT_EQ(Latest(1)->WriteCount(), 0u);
}

TEST_F(RunControllerTest, TransmitOnlyHasNoReader) {
  context_.settings.Test.Mode = kTransmitOnly;
  ASSERT_TRUE(StartRun(context_));
  PortContext& port = context_.run.Ports[0];
  EXPECT_NE(port.WriteEvent, nullptr);
  EXPECT_FALSE(port.ReaderThread.joinable());
  EXPECT_TRUE(port.WriterThread.joinable());
  // Stop while the writer waits for its release: it wakes on the exit event
  // and, in Transmit only, closes the port itself.
  StopRun(context_);
  auto device = Latest(1);
  EXPECT_TRUE(Eventually([&] { return device->CloseCount() == 1; }, kPatience, kPollPeriod));
  EXPECT_EQ(device->WriteCount(), 0u);
}

}  // namespace
}  // namespace quarnex
