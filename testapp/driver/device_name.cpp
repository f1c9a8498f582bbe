#include "testapp/driver/device_name.h"

#include <charconv>
#include <cstdio>

namespace quarnex {

std::string DevicePath(int port_number) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%2.2d", port_number);
  return std::string(kDevicePathPrefix) + digits;
}

bool ParseDevicePath(std::string_view path, int* port_number) {
  if (path.substr(0, kDevicePathPrefix.size()) != kDevicePathPrefix) return false;
  const std::string_view digits = path.substr(kDevicePathPrefix.size());
  // At least two digits, as DevicePath prints them; from_chars alone would
  // also take a minus sign.
  if (digits.size() < 2 || digits.front() < '0' || digits.front() > '9') return false;
  int value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  *port_number = value;
  return true;
}

}  // namespace quarnex
