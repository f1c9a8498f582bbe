#include "serial/tty_ports.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

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

TtyOpenOptions TtyPortOptions(const TtyBackendSettings& settings, int port_number) {
  TtyOpenOptions options;
  options.framed = settings.framed;
  options.label = TtyLinkName(port_number);
  return options;
}

DeviceRef OpenTtyPort(const TtyBackendSettings& settings, int port_number, std::string* problem) {
  const TtyOpenOptions options = TtyPortOptions(settings, port_number);
  return OpenTtyPath(settings.dir + "/" + options.label, options, problem);
}

DeviceRef OpenTtyPath(const std::string& path, const TtyOpenOptions& options,
                      std::string* problem) {
  std::string reason;
  std::shared_ptr<TtyDevice> device = OpenTtyDevice(path, options, &reason);
  std::string told;
  if (device == nullptr && !reason.empty()) told = QuotePathForMessage(path) + ": " + reason;
  // A caller that takes the reason tells it itself, with its own message.
  if (problem != nullptr) {
    *problem = std::move(told);
  } else if (!told.empty()) {
    std::fprintf(stderr, "%s\n", told.c_str());
  }
  return device;
}

}  // namespace quarnex
