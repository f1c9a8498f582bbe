// Device paths of the adapter's ports: "\\.\QuarnexNN".
//
// Thread-safety: pure functions; any thread.
#ifndef QUARNEX_DRIVER_DEVICE_NAME_H_
#define QUARNEX_DRIVER_DEVICE_NAME_H_

#include <string>
#include <string_view>

namespace quarnex {

// The path prefix before the port number, as the text \\.\Quarnex.
inline constexpr std::string_view kDevicePathPrefix = "\\\\.\\Quarnex";

// The path of port `port_number`, the number printed with at least two
// digits: 1 gives \\.\Quarnex01, 128 gives \\.\Quarnex128.
std::string DevicePath(int port_number);

// Reads the port number back from a path made by DevicePath. False (and
// *port_number untouched) for anything else: another prefix, no digits,
// a sign, trailing characters, or a number beyond int.
bool ParseDevicePath(std::string_view path, int* port_number);

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_DEVICE_NAME_H_
