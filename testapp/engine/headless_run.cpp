#include "testapp/engine/headless_run.h"

#include <cstdio>

#include "testapp/engine/run_controller.h"

namespace quarnex {

bool StartHeadlessRun(RunContext& context) {
  if (!StartRun(context)) return false;
  StartTransmitters(context);
  return true;
}

void StopHeadlessRun(RunContext& context) {
  StopRun(context);
  JoinAllPorts(context);
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace quarnex
