#include "testapp/driver/open_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testapp/driver/device_name.h"

namespace quarnex {
namespace {

class OpenDeviceTest : public ::testing::Test {
 protected:
  void TearDown() override { SetDeviceOpener(nullptr); }
};

// The program's opener is asked for every port, and the reason it gives for
// a failed open is the opening thread's to take, once; without an opener no
// port opens.
TEST_F(OpenDeviceTest, TheInstalledOpenerOpensEveryPort) {
  std::vector<std::string> asked;
  SetDeviceOpener([&asked](std::string_view path) -> DeviceRef {
    asked.emplace_back(path);
    NoteOpenTarget("/dev/ttyS7");
    NoteOpenProblem("in use");
    return nullptr;
  });
  EXPECT_EQ(OpenDevice(DevicePath(1)), nullptr);
  EXPECT_EQ(asked, std::vector<std::string>{DevicePath(1)});
  EXPECT_EQ(TakeOpenProblem(), "in use");
  EXPECT_EQ(TakeOpenProblem(), "") << "taking it clears it";
  EXPECT_EQ(TakeOpenTarget(), "/dev/ttyS7");
  EXPECT_EQ(TakeOpenTarget(), "") << "taking it clears it";

  SetDeviceOpener(nullptr);
  EXPECT_EQ(OpenDevice(DevicePath(1)), nullptr);
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_EQ(TakeOpenProblem(), "");

  // A new open forgets what the last one tried, taken or not.
  SetDeviceOpener([](std::string_view) -> DeviceRef {
    NoteOpenTarget("/dev/ttyS7");
    return nullptr;
  });
  EXPECT_EQ(OpenDevice(DevicePath(2)), nullptr);
  SetDeviceOpener([](std::string_view) -> DeviceRef { return nullptr; });
  EXPECT_EQ(OpenDevice(DevicePath(3)), nullptr);
  EXPECT_EQ(TakeOpenTarget(), "");
}

}  // namespace
}  // namespace quarnex
