// The simulated adapter: the default entry of the backend table
// (testapp/wiring/device_backends.h).
//
// A SimAdapter owns the ports a SimConfig describes and opens them as
// Devices. Tests build their own SimAdapter from a SimConfig (or its text
// form) and read each port's state; the tester reaches the process-wide one
// through its DeviceOpener, configured by the QUARNEX_SIM environment variable
// (adapter/README.md) when it is first used, or by SimConfigure.
//
// Thread-safety: every function and method may be called from any thread.
// A port that is open keeps working after its adapter is destroyed or
// replaced, until it is closed.
#ifndef QUARNEX_ADAPTER_SIMULATED_ADAPTER_H_
#define QUARNEX_ADAPTER_SIMULATED_ADAPTER_H_

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/sim_config.h"
#include "adapter/sim_port.h"
#include "testapp/driver/device.h"

namespace quarnex {

class SimAdapter {
 public:
  // Builds the ports of `config`. A source whose file cannot be sent (not a
  // regular file, unreadable, empty, larger than 4 GiB or than memory) sends
  // the pattern instead, told in one line on stderr naming the port, the
  // path and the reason.
  explicit SimAdapter(const SimConfig& config);
  SimAdapter(const SimAdapter&) = delete;
  SimAdapter& operator=(const SimAdapter&) = delete;

  // Opens port `port_number` exclusively. Null when the port does not exist,
  // is open already (until that device is closed or destroyed), or memory
  // for the device cannot be had.
  DeviceRef Open(int port_number);
  // The state of a port; false when it does not exist.
  bool PortState(int port_number, SimPortState* state) const;
  std::vector<int> PortNumbers() const;

 private:
  std::map<int, std::shared_ptr<SimPort>> ports_;  // fixed after construction
};

// Replaces the process-wide adapter. Devices already open stay on the old
// one; their port numbers can be opened again on the new one.
void SimConfigure(const SimConfig& config);
// The same from the text form; problems are written to stderr (and returned
// when `problems` is not null). False when an item was skipped.
bool SimConfigureText(std::string_view text, std::vector<std::string>* problems = nullptr);

// The configuration QUARNEX_SIM describes now: the default when it is unset
// or empty; skipped items are reported on stderr.
SimConfig SimConfigFromEnvironment();

// The process-wide adapter; on first use it is built from
// SimConfigFromEnvironment(). Process-wide like the adapter it stands in
// for: one set of ports a machine, each open once, whoever opens it.
std::shared_ptr<SimAdapter> GlobalSimAdapter();

// Opens a port of the process-wide adapter; null when missing or open.
// Never throws: an adapter that cannot be built is told on stderr and
// opens nothing.
DeviceRef OpenSimulatedPort(int port_number);
// The same, and when it returns null, what was tried ("simulated adapter
// port 8") in *target and why in *problem: the port is not among the
// adapter's ports, or it is open already.
DeviceRef OpenSimulatedPort(int port_number, std::string* target, std::string* problem);

}  // namespace quarnex

#endif  // QUARNEX_ADAPTER_SIMULATED_ADAPTER_H_
