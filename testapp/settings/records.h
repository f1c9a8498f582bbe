// The persisted settings records and the window layout.
//
// The records are plain structs whose layout equals their stored byte image
// (little-endian, offsets and padding as stored); EncodeX/DecodeX turn them
// into and out of that image explicitly, so the stored format holds on any
// host. A program's instances live in Settings (settings_state.h), in its
// run context.
#ifndef QUARNEX_SETTINGS_RECORDS_H_
#define QUARNEX_SETTINGS_RECORDS_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace quarnex {

enum TestMode : int32_t { kLoopback = 0, kReceiveOnly = 1, kTransmitOnly = 2 };

inline constexpr int kMaxPorts = 128;
inline constexpr int32_t kMaxPacketSize = 65536;

// The ranges the settings keep: a stored value outside them is brought
// into range when it is loaded.
inline constexpr int32_t kMinPortIndex = 1;
inline constexpr int32_t kMaxPortIndex = 999;
inline constexpr int32_t kMinPacketSize = 1;
// An hour: a longer pause per packet or between two row refreshes serves
// no test.
inline constexpr uint32_t kMaxDelayMs = 3600000;
inline constexpr uint32_t kMaxUpdateIntervalMs = 3600000;
inline constexpr size_t kFileNameSize = 256;
inline constexpr size_t kMaxFileNameLength = 255;

struct TestSettings {
  int32_t PortIndex;
  int32_t PortCount;
  int32_t PauseAfter;
  int32_t TimeoutBlockedThreads;
  int32_t Mode;
  char FileName[kFileNameSize];
  uint32_t FileSize;
  uint8_t FileNameLength;
  uint8_t Padding[3];
  uint32_t Delay;
  uint32_t UpdateInterval;
};
static_assert(sizeof(TestSettings) == 292);
static_assert(offsetof(TestSettings, PortIndex) == 0);
static_assert(offsetof(TestSettings, PortCount) == 4);
static_assert(offsetof(TestSettings, PauseAfter) == 8);
static_assert(offsetof(TestSettings, TimeoutBlockedThreads) == 12);
static_assert(offsetof(TestSettings, Mode) == 16);
static_assert(offsetof(TestSettings, FileName) == 20);
static_assert(offsetof(TestSettings, FileSize) == 276);
static_assert(offsetof(TestSettings, FileNameLength) == 280);
static_assert(offsetof(TestSettings, Padding) == 281);
static_assert(offsetof(TestSettings, Delay) == 284);
static_assert(offsetof(TestSettings, UpdateInterval) == 288);

struct PortSettings {
  int32_t BaudRate;
  uint8_t ByteSize;
  uint8_t Parity;
  uint8_t StopBits;
  uint8_t Padding;
  int32_t FlowControl;
};
static_assert(sizeof(PortSettings) == 12);
static_assert(offsetof(PortSettings, BaudRate) == 0);
static_assert(offsetof(PortSettings, ByteSize) == 4);
static_assert(offsetof(PortSettings, Parity) == 5);
static_assert(offsetof(PortSettings, StopBits) == 6);
static_assert(offsetof(PortSettings, Padding) == 7);
static_assert(offsetof(PortSettings, FlowControl) == 8);

struct PacketSizeRecord {
  int32_t PacketSize;
};
static_assert(sizeof(PacketSizeRecord) == 4);

struct TimeoutSettings {
  uint32_t ReadTotalTimeoutMultiplier;
  uint32_t ReadTotalTimeoutConstant;
};
static_assert(sizeof(TimeoutSettings) == 8);
static_assert(offsetof(TimeoutSettings, ReadTotalTimeoutConstant) == 4);

// Where each field of a record's image ends, in order (padding counts as a
// field). A stored image cut short is taken up to its last whole field.
inline constexpr size_t kTestSettingsFieldEnds[] = {4, 8, 12, 16, 20, 276, 280, 281, 284, 288, 292};
inline constexpr size_t kPortSettingsFieldEnds[] = {4, 5, 6, 7, 8, 12};
inline constexpr size_t kPacketSizeFieldEnds[] = {4};
inline constexpr size_t kTimeoutSettingsFieldEnds[] = {4, 8};

// The default pair shared by loading and the Timeouts dialog's "&Defaults".
inline constexpr TimeoutSettings kDefaultTimeouts = {1000, 0};

// 0x80000000: the window system chooses.
inline constexpr int32_t kUseDefault = static_cast<int32_t>(0x80000000u);

struct WindowGeometry {
  int32_t Left;
  int32_t Top;
  int32_t Width;
  int32_t Height;
};

inline constexpr int kColumnCount = 6;
struct ColumnWidths {
  std::array<uint32_t, kColumnCount> Width;
};
inline constexpr ColumnWidths kDefaultColumnWidths = {{80, 120, 120, 160, 160, 160}};

TestSettings DefaultTestSettings();
PortSettings DefaultPortSettings();
inline constexpr int32_t kDefaultPacketSize = 1024;

// Byte images. Encode writes exactly sizeof(record) bytes to `out`; Decode
// reads exactly that many from `in`.
void EncodeTestSettings(const TestSettings& s, uint8_t* out);
TestSettings DecodeTestSettings(const uint8_t* in);
void EncodePortSettings(const PortSettings& s, uint8_t* out);
PortSettings DecodePortSettings(const uint8_t* in);
void EncodeTimeoutSettings(const TimeoutSettings& s, uint8_t* out);
TimeoutSettings DecodeTimeoutSettings(const uint8_t* in);

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_RECORDS_H_
