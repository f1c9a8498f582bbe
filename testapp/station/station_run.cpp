#include "testapp/station/station_run.h"

#if defined(_WIN32)
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <charconv>

#include "testapp/settings/records.h"

namespace quarnex {

bool IsMetricsAddress(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string host(text.substr(0, colon));
  if (host.find('\0') != std::string::npos) return false;
  // The port: a whole number of 0 to 65535, the entire text, no sign.
  const std::string_view port_text = text.substr(colon + 1);
  if (port_text.empty() || port_text.front() == '-') return false;
  int64_t port = 0;
  const auto [end, ec] =
      std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  if (ec != std::errc() || end != port_text.data() + port_text.size() || port > 65535) {
    return false;
  }
  unsigned char address[16];
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), address) == 1;
  }
  return inet_pton(AF_INET, host.c_str(), address) == 1;
}

const char* ModeName(int32_t mode) {
  switch (mode) {
    case kLoopback:
      return "loopback";
    case kReceiveOnly:
      return "receive";
    case kTransmitOnly:
      return "transmit";
    default:
      return "unknown";
  }
}

}  // namespace quarnex
