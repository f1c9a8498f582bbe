#include "testapp/driver/line_rate.h"

#include <gtest/gtest.h>

#include "testapp/driver/recording_device.h"

namespace quarnex {
namespace {

TEST(LineRateTest, NoticeNamesThePortTheRateAndWhatWasAsked) {
  EXPECT_EQ(LineRateNotice("Quarnex01", 115200, 115384),
            "Quarnex01: the line runs at 115384 bit/s, not the 115200 bit/s of BitRate");
  EXPECT_EQ(LineRateNotice("Quarnex12", 0, 38400),
            "Quarnex12: the line runs at 38400 bit/s; BitRate sets none");
}

// Both of the system's own line requests: four little-endian bytes, or
// nothing when the device refuses the request or answers short.
TEST(LineRateTest, QueriesReadFourLittleEndianBytesOrTellNothing) {
  struct Query {
    uint32_t (*ask)(Device&);
    uint32_t code;
  };
  for (const Query& q :
       {Query{QueryLineRate, kIoctlGetLineRate}, Query{QueryLineFraming, kIoctlGetLineFraming}}) {
    SCOPED_TRACE(q.code);
    RecordingDevice device;
    RecordingDevice::Answer answer;
    answer.data = {0x08, 0xC2, 0x01, 0x00};  // 115208
    device.Script(RecordingDevice::Op::kControl, answer);
    EXPECT_EQ(q.ask(device), 115208u);
    EXPECT_EQ(device.Requests().back().code, q.code);

    RecordingDevice::Answer refused;
    refused.kind = RecordingDevice::Answer::kFail;
    refused.error = kErrorInvalidFunction;
    device.Script(RecordingDevice::Op::kControl, refused);
    EXPECT_EQ(q.ask(device), 0u);

    RecordingDevice::Answer short_answer;
    short_answer.count = 2;
    short_answer.data = {0x08, 0xC2};
    device.Script(RecordingDevice::Op::kControl, short_answer);
    EXPECT_EQ(q.ask(device), 0u);
  }
}

}  // namespace
}  // namespace quarnex
