// SimConfig: what the simulated adapter offers, and its text form.
//
// The text form is the value of the QUARNEX_SIM environment variable (see
// adapter/README.md): items separated by ';', each `key=value`. Parsing is
// forgiving: an item it cannot use is skipped and described in `problems`,
// and the rest still applies, so a typo never stops the tester.
//
// Thread-safety: plain values and pure functions; any thread.
#ifndef QUARNEX_ADAPTER_SIM_CONFIG_H_
#define QUARNEX_ADAPTER_SIM_CONFIG_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/driver/device.h"

namespace quarnex {

// What sits at the far end of a port's line.
enum class FarEndKind {
  kLoopback,   // a loopback plug: the port receives what it sends
  kSink,       // swallows every frame
  kSource,     // sends frames back to back at the line rate
  kNullModem,  // a cable to another port of the adapter (`peer`)
};

struct FarEnd {
  FarEndKind kind = FarEndKind::kLoopback;
  int peer = 0;                // kNullModem: the other port
  std::string file;            // kSource: empty = the tester's pattern
  uint32_t frame_size = 1024;  // kSource: bytes per frame (file chunk size)
};

inline constexpr uint32_t kDefaultSourceFrameSize = 1024;
inline constexpr uint32_t kMaxFrameSize = 1u << 20;

// Fault rates are probabilities in [0, 1]: per frame a port receives for
// corrupt, drop, cut and line_error; per transfer (read, write, or control
// request sent with a completion record) for refuse, hang and instant.
struct FaultRates {
  double corrupt = 0;            // one byte of the frame changes
  double drop = 0;               // the frame never arrives
  double cut = 0;                // the frame arrives shortened
  double line_error = 0;         // line-error flags are raised
  uint32_t line_error_mask = 0;  // flags raised; 0 = one of the six at random
  double refuse = 0;             // the transfer fails at once
  uint32_t refuse_error = kErrorGenFailure;
  double hang = 0;     // the transfer stays pending until purge or close
  double instant = 0;  // the transfer completes at once instead of pending

  bool any() const {
    return corrupt > 0 || drop > 0 || cut > 0 || line_error > 0 || refuse > 0 || hang > 0 ||
           instant > 0;
  }
};

struct SimConfig {
  std::map<int, FarEnd> ports;  // the ports that exist, with their far ends
  FaultRates faults;
  std::set<int> fault_ports;  // ports the faults hit; empty = all
  uint64_t seed = 1;
  // Ports that are pulled (the device is gone) this long after each open;
  // the others stay plugged in.
  std::map<int, std::chrono::nanoseconds> unplug_after;
};

inline constexpr int kMinSimPort = 0;
inline constexpr int kMaxSimPort = 999;
inline constexpr const char* kSimEnvironmentVariable = "QUARNEX_SIM";
// The longest time to an unplug the text form takes, in seconds (over 11
// days): enough for any burn-in, far from the clock's limits.
inline constexpr double kMaxUnplugSeconds = 1e6;

// Ports 1 to 16 with loopback plugs, no faults: what the adapter offers when
// QUARNEX_SIM is unset.
SimConfig DefaultSimConfig();

// Parses the text form. Returns true when every item was used; otherwise
// `problems` (may be null) receives one line per skipped item and the config
// holds everything else. An empty text gives the default.
bool ParseSimConfig(std::string_view text, SimConfig* config, std::vector<std::string>* problems);

}  // namespace quarnex

#endif  // QUARNEX_ADAPTER_SIM_CONFIG_H_
