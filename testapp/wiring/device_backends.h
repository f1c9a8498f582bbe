// The device backends a program chooses from, put together for its main():
// the one place besides the programs' main files that knows the simulated
// adapter, the TTY backend and the Win32 backend.
#ifndef QUARNEX_WIRING_DEVICE_BACKENDS_H_
#define QUARNEX_WIRING_DEVICE_BACKENDS_H_

#include "testapp/driver/backend_table.h"

namespace quarnex {

// The table both programs fill their DeviceOpener with (open_device.h),
// first match first:
// - a port the device map gives "sim": the simulated adapter's port;
// - a port the map names a device: that device (Linux: the TTY, whose
//   discovery lists the Port... dialog's devices; Windows: the Win32
//   device or COM port, without the internal loopback);
// - else, on Linux when QUARNEX_TTY_DIR names a folder of links, the serial
//   port its link QuarnexNN leads to (docs/real-ports.md); on
//   Windows when QUARNEX_ADAPTER_DRIVER=1, the adapter's own driver;
// - else the simulated adapter's port.
// The environment is read at every open.
BackendTable StandardBackends();

}  // namespace quarnex

#endif  // QUARNEX_WIRING_DEVICE_BACKENDS_H_
