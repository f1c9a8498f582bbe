// The device backends a program chooses from, put together for its main():
// the one place besides the programs' main files that knows the simulated
// adapter and the TTY backend.
#ifndef QUARNEX_WIRING_DEVICE_BACKENDS_H_
#define QUARNEX_WIRING_DEVICE_BACKENDS_H_

#include "testapp/driver/open_device.h"

namespace quarnex {

// The opener both programs install: for port NN the device the device map
// names (device_map.h: a serial device, or the simulated adapter's port);
// else, when QUARNEX_TTY_DIR names a folder of links, the real serial port
// its link QuarnexNN leads to (docs/real-ports.md); else the
// simulated adapter's port. The map and the environment are read at every
// open. Why a TTY could not be opened is left for TakeOpenProblem.
DeviceOpener StandardDeviceOpener();

}  // namespace quarnex

#endif  // QUARNEX_WIRING_DEVICE_BACKENDS_H_
