// Defaults and byte images of the persisted settings records.
//
// The images are built with explicit little-endian byte stores at the stored
// offsets, never by copying the struct, so they come out the same on any
// host whatever its byte order. Pure functions; safe from any thread.
#include "testapp/settings/records.h"

#include <cstring>

#include "testapp/platform/byte_order.h"

namespace quarnex {
namespace {

// Stored offsets of TestSettings; the static_asserts in records.h tie them
// to the struct, these tie them to the image.
constexpr size_t kTestPortIndex = 0;
constexpr size_t kTestPortCount = 4;
constexpr size_t kTestPauseAfter = 8;
constexpr size_t kTestTimeoutBlockedThreads = 12;
constexpr size_t kTestMode = 16;
constexpr size_t kTestFileName = 20;
constexpr size_t kTestFileSize = 276;
constexpr size_t kTestFileNameLength = 280;
constexpr size_t kTestPadding = 281;
constexpr size_t kTestDelay = 284;
constexpr size_t kTestUpdateInterval = 288;

constexpr size_t kPortBaudRate = 0;
constexpr size_t kPortByteSize = 4;
constexpr size_t kPortParity = 5;
constexpr size_t kPortStopBits = 6;
constexpr size_t kPortPadding = 7;
constexpr size_t kPortFlowControl = 8;

constexpr size_t kTimeoutsMultiplier = 0;
constexpr size_t kTimeoutsConstant = 4;

constexpr uint32_t kDefaultUpdateIntervalMs = 500;
constexpr int32_t kDefaultBaudRate = 57600;
constexpr uint8_t kDefaultByteSize = 8;
constexpr int32_t kFlowControlRtsCts = 2;

void PutU32(uint8_t* out, uint32_t v) { EncodeFixed32(out, v); }

void PutI32(uint8_t* out, int32_t v) { PutU32(out, static_cast<uint32_t>(v)); }

uint32_t GetU32(const uint8_t* in) { return DecodeFixed32(in); }

int32_t GetI32(const uint8_t* in) { return static_cast<int32_t>(GetU32(in)); }

}  // namespace

TestSettings DefaultTestSettings() {
  TestSettings s = {};
  s.PortIndex = 1;
  s.PortCount = 1;
  s.TimeoutBlockedThreads = 1;
  s.Mode = kLoopback;
  s.UpdateInterval = kDefaultUpdateIntervalMs;
  return s;
}

PortSettings DefaultPortSettings() {
  PortSettings s = {};
  s.BaudRate = kDefaultBaudRate;
  s.ByteSize = kDefaultByteSize;
  s.FlowControl = kFlowControlRtsCts;
  return s;
}

void EncodeTestSettings(const TestSettings& s, uint8_t* out) {
  PutI32(out + kTestPortIndex, s.PortIndex);
  PutI32(out + kTestPortCount, s.PortCount);
  PutI32(out + kTestPauseAfter, s.PauseAfter);
  PutI32(out + kTestTimeoutBlockedThreads, s.TimeoutBlockedThreads);
  PutI32(out + kTestMode, s.Mode);
  std::memcpy(out + kTestFileName, s.FileName, kFileNameSize);
  PutU32(out + kTestFileSize, s.FileSize);
  out[kTestFileNameLength] = s.FileNameLength;
  std::memcpy(out + kTestPadding, s.Padding, sizeof(s.Padding));
  PutU32(out + kTestDelay, s.Delay);
  PutU32(out + kTestUpdateInterval, s.UpdateInterval);
}

TestSettings DecodeTestSettings(const uint8_t* in) {
  TestSettings s;
  s.PortIndex = GetI32(in + kTestPortIndex);
  s.PortCount = GetI32(in + kTestPortCount);
  s.PauseAfter = GetI32(in + kTestPauseAfter);
  s.TimeoutBlockedThreads = GetI32(in + kTestTimeoutBlockedThreads);
  s.Mode = GetI32(in + kTestMode);
  std::memcpy(s.FileName, in + kTestFileName, kFileNameSize);
  s.FileSize = GetU32(in + kTestFileSize);
  s.FileNameLength = in[kTestFileNameLength];
  std::memcpy(s.Padding, in + kTestPadding, sizeof(s.Padding));
  s.Delay = GetU32(in + kTestDelay);
  s.UpdateInterval = GetU32(in + kTestUpdateInterval);
  return s;
}

void EncodePortSettings(const PortSettings& s, uint8_t* out) {
  PutI32(out + kPortBaudRate, s.BaudRate);
  out[kPortByteSize] = s.ByteSize;
  out[kPortParity] = s.Parity;
  out[kPortStopBits] = s.StopBits;
  out[kPortPadding] = s.Padding;
  PutI32(out + kPortFlowControl, s.FlowControl);
}

PortSettings DecodePortSettings(const uint8_t* in) {
  PortSettings s;
  s.BaudRate = GetI32(in + kPortBaudRate);
  s.ByteSize = in[kPortByteSize];
  s.Parity = in[kPortParity];
  s.StopBits = in[kPortStopBits];
  s.Padding = in[kPortPadding];
  s.FlowControl = GetI32(in + kPortFlowControl);
  return s;
}

void EncodeTimeoutSettings(const TimeoutSettings& s, uint8_t* out) {
  PutU32(out + kTimeoutsMultiplier, s.ReadTotalTimeoutMultiplier);
  PutU32(out + kTimeoutsConstant, s.ReadTotalTimeoutConstant);
}

TimeoutSettings DecodeTimeoutSettings(const uint8_t* in) {
  TimeoutSettings s;
  s.ReadTotalTimeoutMultiplier = GetU32(in + kTimeoutsMultiplier);
  s.ReadTotalTimeoutConstant = GetU32(in + kTimeoutsConstant);
  return s;
}

}  // namespace quarnex
