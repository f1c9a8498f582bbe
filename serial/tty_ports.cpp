#include "serial/tty_ports.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "serial/tty_device.h"
#include "testapp/platform/message_quote.h"

namespace quarnex {

bool TtyBackendFromEnvironment(TtyBackendSettings* settings) {
  const char* dir = std::getenv(kTtyDirVariable);
  if (dir == nullptr || *dir == '\0') return false;
  const char* framed = std::getenv(kTtyFramedVariable);
  settings->dir = dir;
  settings->framed = framed != nullptr && std::string_view(framed) == "1";
  return true;
}

std::string TtyLinkName(int port_number) {
  char name[32];
  std::snprintf(name, sizeof(name), "Quarnex%02d", port_number);
  return name;
}

DeviceRef OpenTtyPort(const TtyBackendSettings& settings, int port_number) {
  TtyOpenOptions options;
  options.framed = settings.framed;
  options.label = TtyLinkName(port_number);
  const std::string path = settings.dir + "/" + options.label;
  std::string problem;
  std::shared_ptr<TtyDevice> device = OpenTtyDevice(path, options, &problem);
  if (device == nullptr && !problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", QuotePathForMessage(path).c_str(), problem.c_str());
  }
  return device;
}

}  // namespace quarnex
