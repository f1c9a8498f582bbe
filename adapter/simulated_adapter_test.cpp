// The adapter as a whole: its ports, the environment variable and the
// process-wide instance.
#include "adapter/simulated_adapter.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "adapter/sim_test_util.h"
#include "testapp/platform/posix_test_compat.h"

namespace quarnex {
namespace {

TEST(SimulatedAdapterTest, EnvironmentVariableConfiguresAndBadItemsAreSkipped) {
  ASSERT_EQ(unsetenv(kSimEnvironmentVariable), 0);
  EXPECT_EQ(SimConfigFromEnvironment().ports.size(), 16u);
  ASSERT_EQ(setenv(kSimEnvironmentVariable, "ports=5-6;6=sink;fault.smoke=1;far=tap", 1), 0);
  const SimConfig c = SimConfigFromEnvironment();
  ASSERT_EQ(c.ports.size(), 2u);
  EXPECT_EQ(c.ports.at(5).kind, FarEndKind::kLoopback);
  EXPECT_EQ(c.ports.at(6).kind, FarEndKind::kSink);
  EXPECT_FALSE(c.faults.any());
  ASSERT_EQ(setenv(kSimEnvironmentVariable, ";;;=;==;ports=;-;1-;", 1), 0);
  EXPECT_EQ(SimConfigFromEnvironment().ports.size(), 16u);
  unsetenv(kSimEnvironmentVariable);
}

TEST(SimulatedAdapterTest, OnlyConfiguredPortsExist) {
  auto adapter = MakeAdapter("ports=2,5-6");
  EXPECT_EQ(adapter->PortNumbers(), (std::vector<int>{2, 5, 6}));
  SimPortState s;
  EXPECT_FALSE(adapter->PortState(1, &s));
  EXPECT_TRUE(adapter->PortState(5, &s));
  EXPECT_EQ(adapter->Open(1), nullptr);
  EXPECT_NE(adapter->Open(6), nullptr);
}

TEST(SimulatedAdapterTest, OpenDeviceOutlivesItsAdapter) {
  DeviceRef device;
  {
    auto adapter = MakeAdapter("ports=1");
    device = adapter->Open(1);
  }
  ASSERT_TRUE(device->Write("still here", 10, nullptr).done());
  Transfer read(16);
  ASSERT_TRUE(device->Read(read.buffer.data(), 16, &read.completion).done());
  EXPECT_EQ(read.text(), "still here");
}

TEST(SimulatedAdapterTest, ReplacingTheGlobalAdapterLeavesOpenDevicesOnTheOldOne) {
  ASSERT_TRUE(SimConfigureText("ports=1"));
  DeviceRef old_port = OpenSimulatedPort(1);
  ASSERT_NE(old_port, nullptr);
  EXPECT_EQ(OpenSimulatedPort(1), nullptr);
  std::vector<std::string> problems;
  EXPECT_FALSE(SimConfigureText("ports=1;bogus", &problems));
  EXPECT_EQ(problems.size(), 1u);
  DeviceRef new_port = OpenSimulatedPort(1);  // a fresh port 1
  ASSERT_NE(new_port, nullptr);
  ASSERT_TRUE(old_port->Write("old", 3, nullptr).done());
  SimPortState s;
  ASSERT_TRUE(GlobalSimAdapter()->PortState(1, &s));
  EXPECT_EQ(s.frames_sent, 0u);
}

}  // namespace
}  // namespace quarnex
