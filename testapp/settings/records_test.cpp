// Byte images of the settings records: exact offsets, little-endian,
// padding kept, nothing written past the record.
#include "testapp/settings/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace quarnex {
namespace {

constexpr uint8_t kGuard = 0xCC;
constexpr size_t kGuardBytes = 8;

// Encodes into a buffer with guard bytes behind the record and checks that
// the guards survived; returns the record's image.
template <typename Record>
std::vector<uint8_t> EncodeGuarded(void (*encode)(const Record&, uint8_t*), const Record& r) {
  std::vector<uint8_t> buffer(sizeof(Record) + kGuardBytes, kGuard);
  encode(r, buffer.data());
  for (size_t i = sizeof(Record); i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], kGuard) << "written past the record at " << i;
  }
  buffer.resize(sizeof(Record));
  return buffer;
}

void Put(std::vector<uint8_t>& image, size_t offset, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) image[offset++] = b;
}

TEST(RecordsTest, TestSettingsImageMatchesHandWrittenBytes) {
  TestSettings s = {};
  s.PortIndex = 0x01020304;
  s.PortCount = -2;
  s.PauseAfter = 1000;
  s.TimeoutBlockedThreads = 0;
  s.Mode = kTransmitOnly;
  std::strcpy(s.FileName, "ab");
  s.FileName[255] = 'z';
  s.FileSize = 0xA1B2C3D4u;
  s.FileNameLength = 2;
  s.Padding[0] = 0x11;
  s.Padding[1] = 0x22;
  s.Padding[2] = 0x33;
  s.Delay = 7;
  s.UpdateInterval = 0x00010000u;

  std::vector<uint8_t> expected(292, 0);
  Put(expected, 0, {0x04, 0x03, 0x02, 0x01});
  Put(expected, 4, {0xFE, 0xFF, 0xFF, 0xFF});
  Put(expected, 8, {0xE8, 0x03, 0x00, 0x00});
  Put(expected, 12, {0x00, 0x00, 0x00, 0x00});
  Put(expected, 16, {0x02, 0x00, 0x00, 0x00});
  Put(expected, 20, {'a', 'b'});
  Put(expected, 275, {'z'});
  Put(expected, 276, {0xD4, 0xC3, 0xB2, 0xA1});
  Put(expected, 280, {0x02});
  Put(expected, 281, {0x11, 0x22, 0x33});
  Put(expected, 284, {0x07, 0x00, 0x00, 0x00});
  Put(expected, 288, {0x00, 0x00, 0x01, 0x00});

  EXPECT_EQ(EncodeGuarded(&EncodeTestSettings, s), expected);

  const TestSettings d = DecodeTestSettings(expected.data());
  EXPECT_EQ(d.PortIndex, 0x01020304);
  EXPECT_EQ(d.PortCount, -2);
  EXPECT_EQ(d.PauseAfter, 1000);
  EXPECT_EQ(d.TimeoutBlockedThreads, 0);
  EXPECT_EQ(d.Mode, kTransmitOnly);
  EXPECT_STREQ(d.FileName, "ab");
  EXPECT_EQ(d.FileName[255], 'z');
  EXPECT_EQ(d.FileSize, 0xA1B2C3D4u);
  EXPECT_EQ(d.FileNameLength, 2);
  EXPECT_EQ(d.Padding[0], 0x11);
  EXPECT_EQ(d.Padding[1], 0x22);
  EXPECT_EQ(d.Padding[2], 0x33);
  EXPECT_EQ(d.Delay, 7u);
  EXPECT_EQ(d.UpdateInterval, 0x00010000u);
}

TEST(RecordsTest, PortAndTimeoutImagesMatchHandWrittenBytes) {
  PortSettings p = {};
  p.BaudRate = 9600;
  p.ByteSize = 7;
  p.Parity = 2;
  p.StopBits = 1;
  p.Padding = 0x5A;
  p.FlowControl = -1;
  const std::vector<uint8_t> port_image = {0x80, 0x25, 0x00, 0x00, 0x07, 0x02,
                                           0x01, 0x5A, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(EncodeGuarded(&EncodePortSettings, p), port_image);
  const PortSettings dp = DecodePortSettings(port_image.data());
  EXPECT_EQ(dp.BaudRate, 9600);
  EXPECT_EQ(dp.ByteSize, 7);
  EXPECT_EQ(dp.Parity, 2);
  EXPECT_EQ(dp.StopBits, 1);
  EXPECT_EQ(dp.Padding, 0x5A);
  EXPECT_EQ(dp.FlowControl, -1);

  const TimeoutSettings t = {0x12345678u, 250};
  const std::vector<uint8_t> timeout_image = {0x78, 0x56, 0x34, 0x12, 0xFA, 0x00, 0x00, 0x00};
  EXPECT_EQ(EncodeGuarded(&EncodeTimeoutSettings, t), timeout_image);
  const TimeoutSettings dt = DecodeTimeoutSettings(timeout_image.data());
  EXPECT_EQ(dt.ReadTotalTimeoutMultiplier, 0x12345678u);
  EXPECT_EQ(dt.ReadTotalTimeoutConstant, 250u);
}

// Any image decodes and encodes back to itself: no byte is dropped, moved
// or reinterpreted, padding included.
TEST(RecordsTest, EveryImageRoundTripsByteForByte) {
  struct Case {
    const char* record;
    size_t size;
    std::function<void(const uint8_t*, uint8_t*)> round_trip;
  };
  const Case cases[] = {
      {"TestSettings", sizeof(TestSettings),
       [](const uint8_t* in, uint8_t* out) { EncodeTestSettings(DecodeTestSettings(in), out); }},
      {"PortSettings", sizeof(PortSettings),
       [](const uint8_t* in, uint8_t* out) { EncodePortSettings(DecodePortSettings(in), out); }},
      {"TimeoutSettings", sizeof(TimeoutSettings),
       [](const uint8_t* in, uint8_t* out) {
         EncodeTimeoutSettings(DecodeTimeoutSettings(in), out);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    std::vector<uint8_t> image(c.size);
    for (size_t i = 0; i < c.size; ++i) image[i] = static_cast<uint8_t>(i * 37 + 11);
    std::vector<uint8_t> out(c.size, 0);
    c.round_trip(image.data(), out.data());
    EXPECT_EQ(out, image);
  }
}

TEST(RecordsTest, DefaultsAreTheFirstStartValues) {
  const TestSettings t = DefaultTestSettings();
  EXPECT_EQ(t.PortIndex, 1);
  EXPECT_EQ(t.PortCount, 1);
  EXPECT_EQ(t.PauseAfter, 0);
  EXPECT_EQ(t.TimeoutBlockedThreads, 1);
  EXPECT_EQ(t.Mode, kLoopback);
  EXPECT_EQ(t.FileSize, 0u);
  EXPECT_EQ(t.FileNameLength, 0);
  EXPECT_EQ(t.Delay, 0u);
  EXPECT_EQ(t.UpdateInterval, 500u);
  // The whole name and the padding are zero, not just the first byte.
  for (char c : t.FileName) ASSERT_EQ(c, '\0');
  for (uint8_t b : t.Padding) ASSERT_EQ(b, 0);

  const PortSettings p = DefaultPortSettings();
  EXPECT_EQ(p.BaudRate, 57600);
  EXPECT_EQ(p.ByteSize, 8);
  EXPECT_EQ(p.Parity, 0);
  EXPECT_EQ(p.StopBits, 0);
  EXPECT_EQ(p.Padding, 0);
  EXPECT_EQ(p.FlowControl, 2);
}

}  // namespace
}  // namespace quarnex
