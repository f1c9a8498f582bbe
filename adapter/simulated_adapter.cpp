#include "adapter/simulated_adapter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>

#include "testapp/platform/message_quote.h"

namespace quarnex {

namespace {

// A source sends what a transmitting tester could: its largest file is the
// largest FileSize, a 32-bit count of bytes.
constexpr uint64_t kMaxSourceFileSize = UINT32_MAX;
constexpr char kReasonEmpty[] = "empty";

// Reads a source's file; null with a reason when it cannot be sent.
std::shared_ptr<const FileContents> LoadSourceFile(const std::string& path, std::string* reason) {
  auto contents = std::make_shared<FileContents>();
  if (!ReadRegularFile(path.c_str(), kMaxSourceFileSize, contents.get(), reason)) return nullptr;
  if (contents->size == 0) {
    *reason = kReasonEmpty;
    return nullptr;
  }
  return contents;
}

std::mutex& GlobalMutex() {
  static std::mutex mu;
  return mu;
}

// Guarded by GlobalMutex().
std::shared_ptr<SimAdapter>& GlobalSlot() {
  // The scheduler is built first so that it is destroyed last: ports of the
  // adapter in this slot may still hold timers until then.
  LineScheduler::Instance();
  static std::shared_ptr<SimAdapter> adapter;
  return adapter;
}

}  // namespace

SimAdapter::SimAdapter(const SimConfig& config) {
  // Start the scheduler before any port can need it, so that it outlives
  // every adapter kept in a static.
  LineScheduler::Instance();
  // Ports that send the same file share one copy of it.
  struct Loaded {
    std::shared_ptr<const FileContents> data;
    std::string reason;
  };
  std::map<std::string, Loaded> files;
  for (const auto& [number, far] : config.ports) {
    const bool faulted = config.fault_ports.empty() || config.fault_ports.count(number) > 0;
    FaultDice dice(config.faults, faulted && config.faults.any(), config.seed, number);
    std::shared_ptr<const FileContents> data;
    if (far.kind == FarEndKind::kSource && !far.file.empty()) {
      auto [it, added] = files.try_emplace(far.file);
      if (added) it->second.data = LoadSourceFile(far.file, &it->second.reason);
      data = it->second.data;
      if (!data) {
        std::fprintf(stderr,
                     "%s: port %d: cannot send the source file '%s': %s; sending the pattern\n",
                     kSimEnvironmentVariable, number, QuotePathForMessage(far.file).c_str(),
                     it->second.reason.c_str());
      }
    }
    auto unplug = config.unplug_after.find(number);
    ports_[number] = std::make_shared<SimPort>(
        number, far, dice, std::move(data),
        unplug == config.unplug_after.end() ? SimClock::duration::zero() : unplug->second);
  }
  for (const auto& [number, far] : config.ports) {
    if (far.kind != FarEndKind::kNullModem) continue;
    auto peer = ports_.find(far.peer);
    if (peer != ports_.end()) ports_[number]->ConnectPeer(peer->second);
  }
}

DeviceRef SimAdapter::Open(int port_number) {
  auto it = ports_.find(port_number);
  if (it == ports_.end()) return nullptr;
  const uint64_t session = it->second->Open();
  if (session == 0) return nullptr;
  try {
    return std::make_shared<SimDevice>(it->second, session);
  } catch (const std::bad_alloc&) {
    // Without a device nobody could close the port again.
    it->second->Close(session);
    return nullptr;
  }
}

bool SimAdapter::PortState(int port_number, SimPortState* state) const {
  auto it = ports_.find(port_number);
  if (it == ports_.end()) return false;
  *state = it->second->State();
  return true;
}

std::vector<int> SimAdapter::PortNumbers() const {
  std::vector<int> numbers;
  for (const auto& entry : ports_) numbers.push_back(entry.first);
  return numbers;
}

void SimConfigure(const SimConfig& config) {
  auto adapter = std::make_shared<SimAdapter>(config);
  std::lock_guard<std::mutex> lock(GlobalMutex());
  GlobalSlot() = std::move(adapter);
}

bool SimConfigureText(std::string_view text, std::vector<std::string>* problems) {
  SimConfig config;
  std::vector<std::string> found;
  const bool ok = ParseSimConfig(text, &config, &found);
  for (const std::string& p : found)
    std::fprintf(stderr, "%s: %s\n", kSimEnvironmentVariable, p.c_str());
  if (problems != nullptr) problems->insert(problems->end(), found.begin(), found.end());
  SimConfigure(config);
  return ok;
}

SimConfig SimConfigFromEnvironment() {
  SimConfig config = DefaultSimConfig();
  if (const char* text = std::getenv(kSimEnvironmentVariable)) {
    std::vector<std::string> problems;
    ParseSimConfig(text, &config, &problems);
    for (const std::string& p : problems)
      std::fprintf(stderr, "%s: %s\n", kSimEnvironmentVariable, p.c_str());
  }
  return config;
}

std::shared_ptr<SimAdapter> GlobalSimAdapter() {
  // Built under the lock, so that QUARNEX_SIM's messages (a bad item, a
  // source file that cannot be sent) appear once however many ports open
  // at the same time.
  std::lock_guard<std::mutex> lock(GlobalMutex());
  if (!GlobalSlot()) GlobalSlot() = std::make_shared<SimAdapter>(SimConfigFromEnvironment());
  return GlobalSlot();
}

DeviceRef OpenSimulatedPort(int port_number) {
  // Called from the tester's threads, which expect a failed open, not an
  // exception, when the adapter cannot be built for lack of memory.
  try {
    return GlobalSimAdapter()->Open(port_number);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: cannot open port %d: %s\n", kSimEnvironmentVariable, port_number,
                 e.what());
    return nullptr;
  }
}

DeviceRef OpenSimulatedPort(int port_number, std::string* target, std::string* problem) {
  DeviceRef device = OpenSimulatedPort(port_number);
  if (device != nullptr) return device;
  *target = "simulated adapter port " + std::to_string(port_number);
  SimPortState state;
  try {
    if (!GlobalSimAdapter()->PortState(port_number, &state)) {
      *problem = std::string("no such port (") + kSimEnvironmentVariable + ")";
    } else if (state.open) {
      *problem = "in use (already open)";
    }
  } catch (const std::exception&) {
    // Told on stderr by the open above.
  }
  return nullptr;
}

}  // namespace quarnex
