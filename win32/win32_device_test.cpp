// The transfer machinery of the Win32 backend on a named pipe, the one
// overlapped device every Windows has: the far end is the pipe's server
// end, driven by the test. A pipe is no COM port, so the device is opened
// as the adapter's driver kind (no line set-up). The COM side is tried
// whole by scripts/test-windows, on a port Wine maps to a pseudo-terminal.
#include "win32/win32_device.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testapp/driver/device.h"
#include "win32/unique_handle.h"

namespace quarnex {
namespace {

constexpr int64_t kPatienceMs = 5000;

class Win32DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    path_ = "\\\\.\\pipe\\quarnex-win32-device-test-" + std::to_string(GetCurrentProcessId()) +
            "-" + std::to_string(++serial);
    far_.Reset(CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                65536, 65536, 0, nullptr));
    ASSERT_TRUE(far_.valid());
    Win32OpenOptions options;
    options.kind = Win32PortKind::kAdapterDriver;
    options.label = "pipe";
    std::string problem;
    device_ = OpenWin32Device(path_, options, &problem);
    ASSERT_NE(device_, nullptr) << problem;
  }
  void TearDown() override {
    if (device_) device_->Close();
  }
  // Writes from the far end, synchronously.
  void FarWrite(const std::string& bytes) {
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(far_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
    ASSERT_EQ(n, bytes.size());
  }
  std::string FarRead(size_t size) {
    std::string bytes(size, '\0');
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(far_.get(), bytes.data(), static_cast<DWORD>(size), &n, nullptr));
    bytes.resize(n);
    return bytes;
  }

  std::string path_;
  UniqueHandle far_;
  std::shared_ptr<Win32Device> device_;
};

TEST_F(Win32DeviceTest, APendingReadCompletesThroughItsEventWithTheBytes) {
  char buffer[16] = {};
  Completion read(MakeEvent(Event::Kind::kManualReset));
  const IoStatus started = device_->Read(buffer, 5, &read);
  ASSERT_TRUE(started.pending()) << started.error;
  EXPECT_EQ(device_->Result(read).error, kErrorIoIncomplete);
  EXPECT_FALSE(read.event->IsSet());

  FarWrite("hello");
  ASSERT_EQ(WaitAny({read.event.get()}, kPatienceMs), 0);
  const IoStatus result = device_->Result(read);
  EXPECT_TRUE(result.done()) << result.error;
  EXPECT_EQ(result.count, 5u);
  EXPECT_EQ(std::string(buffer, 5), "hello");

  // The other way, and without a record: the call waits for its end.
  const IoStatus written = device_->Write("world", 5, nullptr);
  EXPECT_TRUE(written.done()) << written.error;
  EXPECT_EQ(written.count, 5u);
  EXPECT_EQ(FarRead(5), "world");
}

// When Close returns, every transfer it aborted has its final status and
// event: none is left in progress for the device to finish later.
TEST_F(Win32DeviceTest, CloseAbortsEveryPendingTransferBeforeItReturns) {
  constexpr int kReads = 40;
  std::vector<std::unique_ptr<Completion>> reads;
  std::vector<std::vector<char>> buffers(kReads, std::vector<char>(64));
  for (int i = 0; i < kReads; ++i) {
    reads.push_back(std::make_unique<Completion>(MakeEvent(Event::Kind::kManualReset)));
    ASSERT_TRUE(device_->Read(buffers[i].data(), 64, reads.back().get()).pending());
  }
  device_->Close();
  for (const auto& read : reads) {
    EXPECT_EQ(device_->Result(*read).error, kErrorOperationAborted);
    EXPECT_TRUE(read->event->IsSet());
  }
  char byte = 0;
  Completion late(MakeEvent(Event::Kind::kManualReset));
  EXPECT_EQ(device_->Read(&byte, 1, &late).error, kErrorInvalidHandle);
  EXPECT_EQ(device_->Write("x", 1, nullptr).error, kErrorInvalidHandle);
  uint32_t error = 0;
  EXPECT_FALSE(device_->ClearCommError(nullptr, &error));
  EXPECT_EQ(error, kErrorInvalidHandle);
  device_->Close();  // a second Close does nothing
}

// Purge with the receive abort ends the pending reads at once, and the
// device goes on: the next read gets the next bytes.
TEST_F(Win32DeviceTest, PurgeAbortsThePendingReadsAndThePortGoesOn) {
  constexpr int kReads = 10;
  std::vector<std::unique_ptr<Completion>> reads;
  std::vector<std::vector<char>> buffers(kReads, std::vector<char>(8));
  for (int i = 0; i < kReads; ++i) {
    reads.push_back(std::make_unique<Completion>(MakeEvent(Event::Kind::kManualReset)));
    ASSERT_TRUE(device_->Read(buffers[i].data(), 8, reads.back().get()).pending());
  }
  device_->Purge(kPurgeAll);  // a pipe has no buffers to clear: the result may be false
  for (const auto& read : reads) EXPECT_EQ(device_->Result(*read).error, kErrorOperationAborted);

  char buffer[4] = {};
  Completion read(MakeEvent(Event::Kind::kManualReset));
  ASSERT_TRUE(device_->Read(buffer, 4, &read).pending());
  FarWrite("next");
  ASSERT_EQ(WaitAny({read.event.get()}, kPatienceMs), 0);
  EXPECT_TRUE(device_->Result(read).done());
  EXPECT_EQ(std::string(buffer, 4), "next");
}

// A purge from another thread, over and over: each time the read it ended
// is final when Purge returns.
TEST_F(Win32DeviceTest, PurgeFromAnotherThreadLeavesNoReadInProgress) {
  constexpr int kRounds = 200;
  for (int round = 0; round < kRounds; ++round) {
    char buffer[8];
    Completion read(MakeEvent(Event::Kind::kManualReset));
    const IoStatus started = device_->Read(buffer, sizeof(buffer), &read);
    ASSERT_TRUE(started.pending()) << round;
    std::thread purger([this] { device_->Purge(kPurgeRxAbort); });
    purger.join();
    ASSERT_EQ(device_->Result(read).error, kErrorOperationAborted) << round;
  }
}

TEST(Win32OpenTest, AMissingAdapterPortIsAbsentAndAMissingComPortIsNamed) {
  const std::string path = "\\\\.\\pipe\\quarnex-no-such-pipe";
  std::string problem = "stale";
  Win32OpenOptions adapter;
  adapter.kind = Win32PortKind::kAdapterDriver;
  EXPECT_EQ(OpenWin32Device(path, adapter, &problem), nullptr);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(OpenWin32Device(path, {}, &problem), nullptr);
  EXPECT_EQ(problem, path + ": not found");
}

TEST(Win32OpenTest, AFileIsNotASerialPort) {
  char name[MAX_PATH] = {};
  char dir[MAX_PATH] = {};
  ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
  ASSERT_NE(GetTempFileNameA(dir, "qnx", 0, name), 0u);
  Win32OpenOptions options;
  options.kind = Win32PortKind::kCommPort;
  options.label = "Quarnex03";
  std::string problem;
  EXPECT_EQ(OpenWin32Device(name, options, &problem), nullptr);
  EXPECT_EQ(problem, "Quarnex03 is not a serial port");
  DeleteFileA(name);
}

}  // namespace
}  // namespace quarnex
