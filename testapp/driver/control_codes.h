// Control-request codes of the adapter's driver.
//
// Every code follows the platform's control-code layout: device type in
// bits 16..31, access in bits 14..15, function in bits 2..13, method in bits
// 0..1. The adapter's requests use device type 0x8000, function 0x800 + n and
// the buffered method.
#ifndef QUARNEX_DRIVER_CONTROL_CODES_H_
#define QUARNEX_DRIVER_CONTROL_CODES_H_

#include <cstdint>

namespace quarnex {

inline constexpr uint32_t kDeviceTypeAdapter = 0x8000;
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kFileAnyAccess = 0;
inline constexpr uint32_t kFileReadAccess = 1;
inline constexpr uint32_t kFileWriteAccess = 2;

constexpr uint32_t ControlCode(uint32_t device_type, uint32_t function, uint32_t method,
                               uint32_t access) {
  return (device_type << 16) | (access << 14) | (function << 2) | method;
}

// The adapter's request n: read access for n = 2, write access for n = 3,
// any access otherwise.
constexpr uint32_t AdapterRequest(uint32_t n) {
  const uint32_t access = n == 2 ? kFileReadAccess : n == 3 ? kFileWriteAccess : kFileAnyAccess;
  return ControlCode(kDeviceTypeAdapter, 0x800 + n, kMethodBuffered, access);
}

inline constexpr uint32_t kIoctlSetConfiguration = AdapterRequest(0);  // 338-byte block in
inline constexpr uint32_t kIoctlSetTwoValues = AdapterRequest(21);     // two 32-bit values in
inline constexpr uint32_t kIoctlSetDtr = AdapterRequest(24);
inline constexpr uint32_t kIoctlClearDtr = AdapterRequest(25);
inline constexpr uint32_t kIoctlSetRts = AdapterRequest(26);
inline constexpr uint32_t kIoctlClearRts = AdapterRequest(27);
inline constexpr uint32_t kIoctlGetCts = AdapterRequest(28);  // 1 byte out
inline constexpr uint32_t kIoctlGetDcd = AdapterRequest(29);  // 1 byte out

static_assert(kIoctlSetConfiguration == 0x80002000u);
static_assert(kIoctlSetTwoValues == 0x80002054u);
static_assert(kIoctlSetDtr == 0x80002060u);
static_assert(kIoctlClearDtr == 0x80002064u);
static_assert(kIoctlSetRts == 0x80002068u);
static_assert(kIoctlClearRts == 0x8000206Cu);
static_assert(kIoctlGetCts == 0x80002070u);
static_assert(kIoctlGetDcd == 0x80002074u);
static_assert(AdapterRequest(2) == 0x80006008u);
static_assert(AdapterRequest(3) == 0x8000A00Cu);

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_CONTROL_CODES_H_
