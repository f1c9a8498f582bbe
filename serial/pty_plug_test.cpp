// The loopback plug fixture, tried through the TTY backend as the tests that
// use it do: ports opened through their links, transfers on TtyDevice.
#include "serial/pty_plug.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_test_util.h"
#include "serial/tty_ports.h"
#include "testapp/platform/test_support.h"

namespace quarnex {
namespace {

constexpr int64_t kPatienceMs = 20000;

std::vector<uint8_t> Stream(size_t size) {
  std::vector<uint8_t> bytes(size);
  // The high bits of the index mix in, so a byte out of place shows.
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
  return bytes;
}

// What a plug with `options` sends back of `sent`, and which offsets it
// hits: the rule of pty_plug.h, spelled out independently.
struct Expected {
  std::vector<uint8_t> back;
  std::vector<uint64_t> dropped;
  std::vector<uint64_t> flipped;
};

Expected ThroughPlug(const std::vector<uint8_t>& sent, const PtyPlugOptions& options) {
  Expected e;
  for (uint64_t offset = 0; offset < sent.size(); ++offset) {
    const uint64_t nth = offset + 1;
    if (options.drop_every != 0 && nth % options.drop_every == 0) {
      e.dropped.push_back(offset);
    } else if (options.flip_every != 0 && nth % options.flip_every == 0) {
      e.flipped.push_back(offset);
      e.back.push_back(sent[offset] ^ options.flip_mask);
    } else {
      e.back.push_back(sent[offset]);
    }
  }
  return e;
}

// Reads `length` bytes, giving up (and ending the read) after the patience,
// so a plug that loses more than it should fails the test, not hangs it.
IoStatus ReadAll(Device& device, uint8_t* buffer, uint32_t length) {
  Completion read(MakeEvent(Event::Kind::kManualReset));
  const IoStatus started = device.Read(buffer, length, &read);
  if (!started.pending()) return started;
  if (WaitAny({read.event.get()}, kPatienceMs) != 0) device.Purge(kPurgeRxAbort);
  return device.Result(read);
}

class PtyPlugTest : public testing::Test {
 protected:
  void SetUp() override { settings_.dir = links_.path().string(); }

  std::unique_ptr<PtyPlug> Plug(int port, const PtyPlugOptions& options = {}) {
    std::string problem;
    std::unique_ptr<PtyPlug> plug = PtyPlug::Create(settings_.dir, port, options, &problem);
    EXPECT_NE(plug, nullptr) << problem;
    return plug;
  }
  DeviceRef Open(int port) {
    DeviceRef device = OpenTtyPort(settings_, port);
    EXPECT_NE(device, nullptr) << port;
    return device;
  }

  TempDir links_;
  TtyBackendSettings settings_;
};

TEST_F(PtyPlugTest, EchoesAMegabyteWhileBothDirectionsAreFull) {
  std::unique_ptr<PtyPlug> plug = Plug(1);
  ASSERT_NE(plug, nullptr);
  DeviceRef device = Open(1);
  ASSERT_NE(device, nullptr);
  const std::vector<uint8_t> sent = Stream(1 << 20);
  std::vector<uint8_t> got(sent.size());
  Completion write(MakeEvent(Event::Kind::kManualReset));
  Completion read(MakeEvent(Event::Kind::kManualReset));
  ASSERT_TRUE(device->Write(sent.data(), static_cast<uint32_t>(sent.size()), &write).pending());
  // Before anyone reads, the echo fills the port's input and the plug's
  // buffer, and the write stalls; the plug must still take what it can.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(device->Result(write).error, kErrorIoIncomplete);
  ASSERT_TRUE(device->Read(got.data(), static_cast<uint32_t>(got.size()), &read).pending());
  ASSERT_EQ(WaitAny({write.event.get()}, kPatienceMs), 0);
  ASSERT_EQ(WaitAny({read.event.get()}, kPatienceMs), 0);
  EXPECT_EQ(device->Result(write).count, sent.size());
  EXPECT_EQ(device->Result(read).count, sent.size());
  EXPECT_TRUE(got == sent) << "the echo differs";
  // Counted once write() returned, which may be after the port has them.
  EXPECT_TRUE(Eventually([&] { return plug->counters().passed == sent.size(); },
                         std::chrono::milliseconds(kPatienceMs)));
  const PtyPlugCounters c = plug->counters();
  EXPECT_EQ(c.received, sent.size());
  EXPECT_EQ(c.dropped + c.flipped, 0u);
}

TEST_F(PtyPlugTest, FaultsHitExactlyThePredictedOffsetsOnEveryPlugOfTheProcess) {
  struct Case {
    uint32_t drop_every;
    uint32_t flip_every;
    uint8_t flip_mask;
  };
  const Case cases[] = {{7, 0, 0x01}, {0, 5, 0x01}, {0, 3, 0x80}, {4, 6, 0x10}, {0, 0, 0x01}};
  const std::vector<uint8_t> sent = Stream(1000);
  // All plugs at once, one per port.
  std::vector<std::unique_ptr<PtyPlug>> plugs;
  std::vector<DeviceRef> devices;
  std::vector<PtyPlugOptions> options;
  for (const Case& c : cases) {
    PtyPlugOptions o;
    o.drop_every = c.drop_every;
    o.flip_every = c.flip_every;
    o.flip_mask = c.flip_mask;
    options.push_back(o);
    const int port = static_cast<int>(plugs.size()) + 1;
    plugs.push_back(Plug(port, o));
    ASSERT_NE(plugs.back(), nullptr);
    devices.push_back(Open(port));
    ASSERT_NE(devices.back(), nullptr);
  }
  for (DeviceRef& device : devices) {
    ASSERT_TRUE(device->Write(sent.data(), static_cast<uint32_t>(sent.size()), nullptr).done());
  }
  for (size_t i = 0; i < devices.size(); ++i) {
    SCOPED_TRACE(testing::Message()
                 << "drop " << cases[i].drop_every << ", flip " << cases[i].flip_every);
    const Expected expected = ThroughPlug(sent, options[i]);
    std::vector<uint8_t> got(expected.back.size());
    const IoStatus read = ReadAll(*devices[i], got.data(), static_cast<uint32_t>(got.size()));
    ASSERT_TRUE(read.done()) << read.error;
    EXPECT_TRUE(got == expected.back) << "the bytes that came back differ";
    // The plug counts a byte as passed once its write() returned, which may
    // be after the port has it, and the last bytes sent may be dropped after
    // the last one that came back.
    ASSERT_TRUE(Eventually(
        [&] {
          const PtyPlugCounters c = plugs[i]->counters();
          return c.received == sent.size() && c.passed == expected.back.size();
        },
        std::chrono::milliseconds(kPatienceMs)));
    const PtyPlugCounters c = plugs[i]->counters();
    EXPECT_EQ(c.dropped, expected.dropped.size());
    EXPECT_EQ(c.flipped, expected.flipped.size());
    EXPECT_EQ(plugs[i]->dropped_offsets(), expected.dropped);
    EXPECT_EQ(plugs[i]->flipped_offsets(), expected.flipped);
  }
  // Where both rules meet (offsets 11, 23, ...), the byte is dropped.
  const std::vector<uint64_t> dropped = plugs[3]->dropped_offsets();
  const std::vector<uint64_t> flipped = plugs[3]->flipped_offsets();
  ASSERT_GE(dropped.size(), 6u);
  ASSERT_GE(flipped.size(), 3u);
  EXPECT_EQ(std::vector<uint64_t>(dropped.begin(), dropped.begin() + 6),
            (std::vector<uint64_t>{3, 7, 11, 15, 19, 23}));
  EXPECT_EQ(std::vector<uint64_t>(flipped.begin(), flipped.begin() + 3),
            (std::vector<uint64_t>{5, 17, 29}));
}

TEST_F(PtyPlugTest, VanishIsAHangUpAndThePortIsMissingUntilAnotherPlugTakesIt) {
  std::unique_ptr<PtyPlug> plug = Plug(1);
  ASSERT_NE(plug, nullptr);
  DeviceRef device = Open(1);
  ASSERT_NE(device, nullptr);
  uint8_t got[16];
  Completion read(MakeEvent(Event::Kind::kManualReset));
  ASSERT_TRUE(device->Read(got, sizeof(got), &read).pending());
  plug->Vanish();
  EXPECT_TRUE(plug->vanished());
  ASSERT_EQ(WaitAny({read.event.get()}, kPatienceMs), 0);
  EXPECT_EQ(device->Result(read).error, kErrorDeviceNotConnected);
  EXPECT_EQ(device->Write("x", 1, nullptr).error, kErrorDeviceNotConnected);
  device->Close();
  EXPECT_EQ(OpenTtyPort(settings_, 1), nullptr) << "the port is gone";
  plug->Vanish();  // again: nothing happens

  // A new plug takes the name (its pseudo-terminal may well get the number
  // the old one had); the old plug, when it goes, leaves it alone.
  std::unique_ptr<PtyPlug> again = Plug(1);
  ASSERT_NE(again, nullptr);
  plug.reset();
  DeviceRef back = Open(1);
  ASSERT_NE(back, nullptr);
  ASSERT_TRUE(back->Write("back", 4, nullptr).done());
  ASSERT_TRUE(ReadAll(*back, got, 4).done());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 4), "back");
  back->Close();
  again.reset();
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::symlink_status(links_.path() / "Quarnex01")))
      << "a plug removes its own link";
}

TEST_F(PtyPlugTest, CreateRefusesAMissingFolderAndANameThatIsTaken) {
  std::ofstream(links_.path() / "Quarnex02") << "someone's file";
  const std::string missing = (links_.path() / "no-such-folder").string();
  struct Case {
    std::string dir;
    int port;
  };
  const Case cases[] = {{settings_.dir, 2}, {missing, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    std::string problem;
    EXPECT_EQ(PtyPlug::Create(c.dir, c.port, PtyPlugOptions{}, &problem), nullptr);
    EXPECT_NE(problem.find("cannot link"), std::string::npos) << problem;
  }
  std::ifstream kept(links_.path() / "Quarnex02");
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "someone's file");
  // A link that leads nowhere, as a process that died leaves it, is no
  // one's: a plug takes its name.
  ASSERT_TRUE(links_.Link("Quarnex03", "/dev/pts/no-such-terminal"));
  std::unique_ptr<PtyPlug> plug = Plug(3);
  ASSERT_NE(plug, nullptr);
  EXPECT_EQ(std::filesystem::read_symlink(plug->link_path()), plug->slave_path());
}

}  // namespace
}  // namespace quarnex
