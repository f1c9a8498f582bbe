#include "serial/tty_device.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_test_util.h"
#include "serial/tty_ports.h"
#include "testapp/driver/open_device.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/line_block_test_util.h"
#include "testapp/wiring/device_backends.h"

namespace quarnex {
namespace {

constexpr int64_t kPatienceMs = 20000;

uint32_t QueriedRate(Device& device) {
  uint8_t out[4] = {};
  const IoStatus status = device.Control(kIoctlGetLineRate, nullptr, 0, out, sizeof(out), nullptr);
  EXPECT_TRUE(status.done()) << status.error;
  return out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<uint32_t>(out[3]) << 24);
}

// A folder of port links, the first leading to a pseudo-terminal.
class TtyDeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    opener_.SetBackends(StandardBackends());
    ASSERT_TRUE(pty_.Open());
    ASSERT_TRUE(links_.Link("Quarnex01", pty_.slave_path));
    settings_.dir = links_.path().string();
  }

  std::shared_ptr<TtyDevice> OpenPort1() {
    std::shared_ptr<TtyDevice> device =
        std::dynamic_pointer_cast<TtyDevice>(OpenTtyPort(settings_, 1));
    EXPECT_NE(device, nullptr);
    return device;
  }

  // The programs' backends: the device map's devices, the links, else the
  // simulated adapter.
  DeviceRef OpenDevice(std::string_view path) { return opener_.Open(path).device; }

  DeviceOpener opener_;
  PtyPair pty_;
  TempDir links_;
  TtyBackendSettings settings_;
};

TEST_F(TtyDeviceTest, PortsOpenThroughTheirLinksExclusively) {
  ASSERT_TRUE(links_.Link("Quarnex02", "/nonexistent/tty"));
  const std::string plain_file = (links_.path() / "plain").string();
  std::ofstream(plain_file) << "not a terminal";
  ASSERT_TRUE(links_.Link("Quarnex03", plain_file));

  std::shared_ptr<TtyDevice> first = OpenPort1();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(OpenTtyPort(settings_, 1), nullptr) << "a second open of an open port";
  // A dangling link, a link to no terminal, and no link at all.
  for (int port : {2, 3, 4}) EXPECT_EQ(OpenTtyPort(settings_, port), nullptr) << port;
  first->Close();
  std::shared_ptr<TtyDevice> again = OpenPort1();
  EXPECT_NE(again, nullptr);
}

TEST_F(TtyDeviceTest, EnvironmentChoosesTheBackendAndUnsetKeepsTheSimulatedAdapter) {
  unsetenv(kTtyDirVariable);
  DeviceRef simulated = OpenDevice("\\\\.\\Quarnex01");
  ASSERT_NE(simulated, nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<TtyDevice>(simulated), nullptr);
  simulated->Close();

  ASSERT_EQ(setenv(kTtyDirVariable, settings_.dir.c_str(), 1), 0);
  DeviceRef real = OpenDevice("\\\\.\\Quarnex01");
  EXPECT_NE(std::dynamic_pointer_cast<TtyDevice>(real), nullptr);
  EXPECT_EQ(OpenDevice("\\\\.\\Quarnex02"), nullptr) << "no link, no port";
  unsetenv(kTtyDirVariable);
}

TEST_F(TtyDeviceTest, OpenSetsRawModeBlockSetsTheLineAndCloseRestoresThePort) {
  termios before;
  ASSERT_EQ(tcgetattr(pty_.slave.get(), &before), 0);
  before.c_lflag |= ICANON | ECHO;
  before.c_iflag |= IXON;
  cfsetspeed(&before, B9600);
  ASSERT_EQ(tcsetattr(pty_.slave.get(), TCSANOW, &before), 0);

  std::shared_ptr<TtyDevice> device = OpenPort1();
  ASSERT_NE(device, nullptr);
  termios t;
  ASSERT_EQ(tcgetattr(pty_.slave.get(), &t), 0);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(t.c_iflag & IXON, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);

  // A rate no Bnnn constant names, 7 data bits, odd parity. A
  // pseudo-terminal takes the rate but keeps 8 bits without parity; the
  // read-back tells.
  const std::vector<uint8_t> block = LineBlock(123457, 1, 1);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(
      device->Control(kIoctlSetConfiguration, block.data(), kConfigBlockSize, nullptr, 0, nullptr)
          .done());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Quarnex01: the driver did not take 7 data bits with parity odd\n");
  EXPECT_EQ(QueriedRate(*device), 123457u);
  EXPECT_EQ(device->ActualBitRate(), 123457u);
  ASSERT_EQ(tcgetattr(pty_.slave.get(), &t), 0);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));

  // BitRate 0 leaves the rate as it is.
  const std::vector<uint8_t> no_rate = LineBlock(0, 3, 0);
  EXPECT_TRUE(
      device->Control(kIoctlSetConfiguration, no_rate.data(), kConfigBlockSize, nullptr, 0, nullptr)
          .done());
  EXPECT_EQ(QueriedRate(*device), 123457u);

  device->Close();
  ASSERT_EQ(tcgetattr(pty_.slave.get(), &t), 0);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
  EXPECT_NE(t.c_iflag & IXON, 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(device->ActualBitRate(), 0u);
}

TEST_F(TtyDeviceTest, ControlRequestsOnAPseudoTerminal) {
  std::shared_ptr<TtyDevice> device = OpenPort1();
  ASSERT_NE(device, nullptr);
  const uint32_t two_values[2] = {1000, 100};
  const std::vector<uint8_t> block = LineBlock(9600, 3, 0);
  struct Case {
    uint32_t code;
    const void* in;
    uint32_t in_size;
    uint32_t out_size;
    uint32_t error;
  };
  const Case cases[] = {
      {kIoctlSetTwoValues, two_values, sizeof(two_values), 0, kErrorSuccess},
      {kIoctlSetConfiguration, block.data(), kConfigBlockSize - 1, 0, kErrorInvalidParameter},
      // A pseudo-terminal has no modem lines.
      {kIoctlSetDtr, nullptr, 0, 0, kErrorNotSupported},
      {kIoctlClearDtr, nullptr, 0, 0, kErrorNotSupported},
      {kIoctlSetRts, nullptr, 0, 0, kErrorNotSupported},
      {kIoctlClearRts, nullptr, 0, 0, kErrorNotSupported},
      {kIoctlGetCts, nullptr, 0, 1, kErrorNotSupported},
      {kIoctlGetDcd, nullptr, 0, 1, kErrorNotSupported},
      {kIoctlGetCts, nullptr, 0, 0, kErrorInvalidParameter},
      {kIoctlGetLineRate, nullptr, 0, 2, kErrorInvalidParameter},
      {kIoctlGetLineFraming, nullptr, 0, 3, kErrorInvalidParameter},
      // The exerciser's requests, and a code of no adapter.
      {AdapterRequest(1), nullptr, 0, kConfigBlockSize, kErrorNotSupported},
      {AdapterRequest(13), nullptr, 0, 0, kErrorNotSupported},
      {0x00090000u, nullptr, 0, 0, kErrorInvalidFunction},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    std::vector<uint8_t> out(c.out_size + 1);
    Completion record(MakeEvent(Event::Kind::kManualReset));
    const IoStatus status = device->Control(c.code, c.in, c.in_size,
                                            c.out_size ? out.data() : nullptr, c.out_size, &record);
    EXPECT_EQ(status.error, c.error);
    // Done at once with a record: the record says so and its event is set.
    EXPECT_EQ(record.event->IsSet(), status.done());
    if (status.done()) {
      EXPECT_EQ(record.status.load(), kErrorSuccess);
    }
  }
  uint32_t mask = 0xFFFF;
  uint32_t error = 0xFFFF;
  EXPECT_TRUE(device->ClearCommError(&mask, &error)) << "no counters: no errors";
  EXPECT_EQ(mask, 0u);
  EXPECT_EQ(error, kErrorSuccess);
}

TEST_F(TtyDeviceTest, BytesGoRoundALoopbackPlug) {
  EchoPlug plug(pty_.master.get());
  std::shared_ptr<TtyDevice> device = OpenPort1();
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> sent(5000);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 13 + 1);
  std::vector<uint8_t> got(sent.size());
  Completion read(MakeEvent(Event::Kind::kManualReset));
  ASSERT_TRUE(device->Read(got.data(), static_cast<uint32_t>(got.size()), &read).pending());
  // A synchronous write, then the read completes with every byte.
  const IoStatus written = device->Write(sent.data(), static_cast<uint32_t>(sent.size()), nullptr);
  ASSERT_TRUE(written.done());
  EXPECT_EQ(written.count, sent.size());
  ASSERT_EQ(WaitAny({read.event.get()}, kPatienceMs), 0);
  EXPECT_EQ(device->Result(read).count, sent.size());
  EXPECT_EQ(got, sent);
}

TEST_F(TtyDeviceTest, CloseAbortsPendingTransfersAndEveryLaterCallFails) {
  std::shared_ptr<TtyDevice> device = OpenPort1();
  ASSERT_NE(device, nullptr);
  auto buffer = std::make_unique<uint8_t[]>(16);
  Completion read(MakeEvent(Event::Kind::kManualReset));
  ASSERT_TRUE(device->Read(buffer.get(), 16, &read).pending());
  device->Close();
  EXPECT_TRUE(read.event->IsSet());
  EXPECT_EQ(device->Result(read).error, kErrorOperationAborted);
  buffer.reset();
  ASSERT_EQ(write(pty_.master.get(), "late bytes", 10), 10);

  uint8_t b[4];
  Completion later(MakeEvent(Event::Kind::kManualReset));
  EXPECT_EQ(device->Read(b, 4, &later).error, kErrorInvalidHandle);
  EXPECT_EQ(device->Write(b, 4, &later).error, kErrorInvalidHandle);
  EXPECT_EQ(device->Control(kIoctlSetTwoValues, b, 4, nullptr, 0, nullptr).error,
            kErrorInvalidHandle);
  uint32_t mask = 0, error = 0;
  EXPECT_FALSE(device->ClearCommError(&mask, &error));
  EXPECT_EQ(error, kErrorInvalidHandle);
  EXPECT_FALSE(device->Purge(kPurgeAll));
  EXPECT_FALSE(device->SetCommMask(0));
  device->Close();  // again: nothing happens
}

// The far end closing a pseudo-terminal is what an unplugged USB adapter
// looks like: the device is gone.
TEST_F(TtyDeviceTest, HangUpFailsPendingAndLaterTransfersWithDeviceNotConnected) {
  std::shared_ptr<TtyDevice> device = OpenPort1();
  ASSERT_NE(device, nullptr);
  auto read_buffer = std::make_unique<uint8_t[]>(16);
  std::vector<uint8_t> payload(1 << 20, 'x');  // more than a pty holds: nobody reads the master
  Completion read(MakeEvent(Event::Kind::kManualReset));
  Completion write(MakeEvent(Event::Kind::kManualReset));
  ASSERT_TRUE(device->Read(read_buffer.get(), 16, &read).pending());
  ASSERT_TRUE(
      device->Write(payload.data(), static_cast<uint32_t>(payload.size()), &write).pending());
  pty_.master.Reset();
  for (Completion* c : {&read, &write}) {
    ASSERT_EQ(WaitAny({c->event.get()}, kPatienceMs), 0);
    EXPECT_EQ(device->Result(*c).error, kErrorDeviceNotConnected);
  }

  uint8_t b[16];
  Completion later(MakeEvent(Event::Kind::kManualReset));
  EXPECT_EQ(device->Read(b, sizeof(b), &later).error, kErrorDeviceNotConnected);
  EXPECT_EQ(device->Write(b, 1, &later).error, kErrorDeviceNotConnected);
  EXPECT_EQ(device->Read(b, sizeof(b), nullptr).error, kErrorDeviceNotConnected);
  EXPECT_EQ(device->Write(b, 1, nullptr).error, kErrorDeviceNotConnected);
  uint32_t mask = 0xFFFF, error = 0xFFFF;
  EXPECT_TRUE(device->ClearCommError(&mask, &error));
  EXPECT_EQ(mask, 0u);
  EXPECT_TRUE(device->Purge(kPurgeAll));
  EXPECT_TRUE(device->SetCommMask(0));
  device->Close();
  EXPECT_EQ(device->Read(b, sizeof(b), &later).error, kErrorInvalidHandle);
  // The pseudo-terminal is gone with its far end, as an unplugged adapter's
  // node is: the port is missing now.
  EXPECT_EQ(OpenTtyPort(settings_, 1), nullptr);
}

TEST_F(TtyDeviceTest, AfterAHangUpRequestsThatReachTheDriverFailWithDeviceNotConnected) {
  const std::vector<uint8_t> block = LineBlock(9600, 3, 0);
  const uint32_t two_values[2] = {1000, 100};
  struct Case {
    uint32_t code;
    const void* in;
    uint32_t in_size;
    uint32_t out_size;
    uint32_t error;
  };
  const Case cases[] = {
      {kIoctlSetConfiguration, block.data(), kConfigBlockSize, 0, kErrorDeviceNotConnected},
      {kIoctlSetDtr, nullptr, 0, 0, kErrorDeviceNotConnected},
      {kIoctlClearRts, nullptr, 0, 0, kErrorDeviceNotConnected},
      {kIoctlGetCts, nullptr, 0, 1, kErrorDeviceNotConnected},
      {kIoctlGetDcd, nullptr, 0, 1, kErrorDeviceNotConnected},
      {kIoctlGetLineRate, nullptr, 0, 4, kErrorDeviceNotConnected},
      {kIoctlGetLineFraming, nullptr, 0, 4, kErrorDeviceNotConnected},
      // These never reach the TTY, before a hang-up or after.
      {kIoctlSetTwoValues, two_values, sizeof(two_values), 0, kErrorSuccess},
      {AdapterRequest(13), nullptr, 0, 0, kErrorNotSupported},
      {0x00090000u, nullptr, 0, 0, kErrorInvalidFunction},
  };
  // Whether the I/O thread saw the hang-up (a read was pending) or nobody
  // watched the descriptor (input waited unread, no transfer outstanding)
  // and the request itself finds the device gone, the answers agree.
  for (bool read_pending : {true, false}) {
    SCOPED_TRACE(read_pending ? "a read was pending" : "nothing was outstanding");
    PtyPair pty;
    ASSERT_TRUE(pty.Open());
    const std::string link = read_pending ? "Quarnex02" : "Quarnex03";
    ASSERT_TRUE(links_.Link(link, pty.slave_path));
    DeviceRef device = OpenTtyPort(settings_, read_pending ? 2 : 3);
    ASSERT_NE(device, nullptr);
    uint8_t got[4];
    Completion read(MakeEvent(Event::Kind::kManualReset));
    if (read_pending) {
      ASSERT_TRUE(device->Read(got, sizeof(got), &read).pending());
    } else {
      ASSERT_EQ(write(pty.master.get(), "z", 1), 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    pty.master.Reset();
    if (read_pending) {
      ASSERT_EQ(WaitAny({read.event.get()}, kPatienceMs), 0);
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << std::hex << c.code);
      std::vector<uint8_t> out(c.out_size + 1);
      Completion record(MakeEvent(Event::Kind::kManualReset));
      void* out_buffer = c.out_size ? out.data() : nullptr;
      EXPECT_EQ(device->Control(c.code, c.in, c.in_size, out_buffer, c.out_size, &record).error,
                c.error);
      EXPECT_EQ(device->Control(c.code, c.in, c.in_size, out_buffer, c.out_size, nullptr).error,
                c.error);
    }
    EXPECT_EQ(device->Read(got, sizeof(got), &read).error, kErrorDeviceNotConnected);
    device->Close();
  }
}

}  // namespace
}  // namespace quarnex
