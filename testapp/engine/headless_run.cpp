#include "testapp/engine/headless_run.h"

#include <cstdio>

#include "testapp/engine/run_controller.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

bool StartHeadlessRun() {
  if (!StartRun()) return false;
  const TestSettings& test = GlobalSettings().Test;
  if (test.Mode == kTransmitOnly) {
    // In Loopback the reader releases its writer itself; in Transmit only
    // nothing moves until the start sequence does.
    for (int i = 0; i < test.PortCount; ++i) {
      PortContext& port = CurrentRun().Ports[i];
      if (port.InUse.load() == 1) ReleaseWriter(port);
    }
  }
  return true;
}

void StopHeadlessRun() {
  StopRun();
  JoinAllPorts();
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace quarnex
