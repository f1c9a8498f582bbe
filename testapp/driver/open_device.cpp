#include "testapp/driver/open_device.h"

#include <mutex>
#include <string>
#include <utility>

namespace quarnex {

namespace {

std::mutex& OpenerMutex() {
  static std::mutex mu;
  return mu;
}

// Guarded by OpenerMutex().
DeviceOpener& InstalledOpener() {
  static DeviceOpener opener;
  return opener;
}

// Why the calling thread's last open failed; "" when no reason is known.
thread_local std::string open_problem;
// What it tried; "" when the opener named nothing.
thread_local std::string open_target;

}  // namespace

DeviceRef OpenDevice(std::string_view path) {
  DeviceOpener opener;
  {
    std::lock_guard<std::mutex> lock(OpenerMutex());
    opener = InstalledOpener();
  }
  open_problem.clear();
  open_target.clear();
  return opener ? opener(path) : nullptr;
}

void NoteOpenProblem(std::string problem) { open_problem = std::move(problem); }

std::string TakeOpenProblem() { return std::exchange(open_problem, std::string()); }

void NoteOpenTarget(std::string target) { open_target = std::move(target); }

std::string TakeOpenTarget() { return std::exchange(open_target, std::string()); }

void SetDeviceOpener(DeviceOpener opener) {
  std::lock_guard<std::mutex> lock(OpenerMutex());
  InstalledOpener() = std::move(opener);
}

}  // namespace quarnex
