// Fuzz target: the QUARNEX_SIM parser.
//
// The input is the variable's value. Whatever it holds, the config that
// comes out must be one the adapter can run: ports and fault ports within
// kMinSimPort..kMaxSimPort, rates in [0, 1], source frame sizes within
// 1..kMaxFrameSize, null-modem cables with both ends, unplug times in
// (0, kMaxUnplugSeconds] on existing ports, and a refusal code that is a
// failure. The result is true exactly when no problem was reported, and
// does not depend on whether problems are collected. Each problem is one
// short line: the item is quoted at most 80 characters long, without
// control characters, however long the value.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/sim_config.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace quarnex;

// The quote, the reason and the frame around them stay well below this.
constexpr size_t kMaxProblemLength = 300;

bool ValidPort(int port) { return port >= kMinSimPort && port <= kMaxSimPort; }
bool ValidRate(double rate) { return rate >= 0.0 && rate <= 1.0; }  // false for NaN

bool SameFarEnd(const FarEnd& a, const FarEnd& b) {
  return a.kind == b.kind && a.peer == b.peer && a.file == b.file && a.frame_size == b.frame_size;
}

bool SameFaults(const FaultRates& a, const FaultRates& b) {
  return a.corrupt == b.corrupt && a.drop == b.drop && a.cut == b.cut &&
         a.line_error == b.line_error && a.line_error_mask == b.line_error_mask &&
         a.refuse == b.refuse && a.refuse_error == b.refuse_error && a.hang == b.hang &&
         a.instant == b.instant;
}

bool SameConfig(const SimConfig& a, const SimConfig& b) {
  if (a.ports.size() != b.ports.size()) return false;
  for (auto ia = a.ports.begin(), ib = b.ports.begin(); ia != a.ports.end(); ++ia, ++ib) {
    if (ia->first != ib->first || !SameFarEnd(ia->second, ib->second)) return false;
  }
  return SameFaults(a.faults, b.faults) && a.fault_ports == b.fault_ports && a.seed == b.seed &&
         a.unplug_after == b.unplug_after;
}

void CheckConfig(const SimConfig& config) {
  for (const auto& [port, far] : config.ports) {
    FUZZ_CHECK(ValidPort(port));
    switch (far.kind) {
      case FarEndKind::kLoopback:
      case FarEndKind::kSink:
        break;
      case FarEndKind::kSource:
        FUZZ_CHECK(far.frame_size >= 1 && far.frame_size <= kMaxFrameSize);
        break;
      case FarEndKind::kNullModem: {
        FUZZ_CHECK(far.peer != port);
        const auto peer = config.ports.find(far.peer);
        FUZZ_CHECK(peer != config.ports.end());
        FUZZ_CHECK(peer->second.kind == FarEndKind::kNullModem && peer->second.peer == port);
        break;
      }
      default:
        FUZZ_CHECK(false);
    }
  }
  for (int port : config.fault_ports) FUZZ_CHECK(ValidPort(port));

  const FaultRates& f = config.faults;
  for (double rate : {f.corrupt, f.drop, f.cut, f.line_error, f.refuse, f.hang, f.instant}) {
    FUZZ_CHECK(ValidRate(rate));
  }
  FUZZ_CHECK(f.refuse_error != kErrorSuccess && f.refuse_error != kErrorIoPending &&
             f.refuse_error != kErrorIoIncomplete);

  const auto max_unplug = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(kMaxUnplugSeconds));
  for (const auto& [port, after] : config.unplug_after) {
    FUZZ_CHECK(config.ports.count(port) == 1);
    FUZZ_CHECK(after.count() > 0 && after <= max_unplug);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  SimConfig config;
  std::vector<std::string> problems;
  const bool ok = ParseSimConfig(text, &config, &problems);
  FUZZ_CHECK(ok == problems.empty());
  CheckConfig(config);
  for (const std::string& line : problems) {
    FUZZ_CHECK(line.starts_with("ignored '"));
    FUZZ_CHECK(line.size() < kMaxProblemLength);
    for (char c : line) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
  }

  SimConfig quiet;
  FUZZ_CHECK(ParseSimConfig(text, &quiet, nullptr) == ok);
  FUZZ_CHECK(SameConfig(config, quiet));

  if (text.empty()) FUZZ_CHECK(ok && SameConfig(config, DefaultSimConfig()));
  return 0;
}
