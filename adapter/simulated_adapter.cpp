#include "adapter/simulated_adapter.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

namespace quarnex {

namespace {

std::shared_ptr<const std::vector<uint8_t>> LoadSourceFile(int port, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  auto data = std::make_shared<std::vector<uint8_t>>();
  if (in) data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) data->clear();
  if (data->empty()) {
    std::fprintf(stderr, "%s: port %d: cannot read source file '%s' (or it is empty); sending the pattern\n",
                 kSimEnvironmentVariable, port, path.c_str());
    return nullptr;
  }
  return data;
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
  for (const auto& [number, far] : config.ports) {
    const bool faulted = config.fault_ports.empty() || config.fault_ports.count(number) > 0;
    FaultDice dice(config.faults, faulted && config.faults.any(), config.seed, number);
    std::shared_ptr<const std::vector<uint8_t>> data;
    if (far.kind == FarEndKind::kSource && !far.file.empty()) data = LoadSourceFile(number, far.file);
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
  return std::make_shared<SimDevice>(it->second, session);
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
  for (const std::string& p : found) std::fprintf(stderr, "%s: %s\n", kSimEnvironmentVariable, p.c_str());
  if (problems != nullptr) problems->insert(problems->end(), found.begin(), found.end());
  SimConfigure(config);
  return ok;
}

SimConfig SimConfigFromEnvironment() {
  SimConfig config = DefaultSimConfig();
  if (const char* text = std::getenv(kSimEnvironmentVariable)) {
    std::vector<std::string> problems;
    ParseSimConfig(text, &config, &problems);
    for (const std::string& p : problems) std::fprintf(stderr, "%s: %s\n", kSimEnvironmentVariable, p.c_str());
  }
  return config;
}

std::shared_ptr<SimAdapter> GlobalSimAdapter() {
  {
    std::lock_guard<std::mutex> lock(GlobalMutex());
    if (GlobalSlot()) return GlobalSlot();
  }
  auto adapter = std::make_shared<SimAdapter>(SimConfigFromEnvironment());
  std::lock_guard<std::mutex> lock(GlobalMutex());
  // Another thread may have been first; its adapter stays.
  if (!GlobalSlot()) GlobalSlot() = std::move(adapter);
  return GlobalSlot();
}

DeviceRef OpenSimulatedPort(int port_number) { return GlobalSimAdapter()->Open(port_number); }

}  // namespace quarnex
