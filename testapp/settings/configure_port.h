// The per-port configuration step of a run start: rebuild the device
// configuration block from the configuration file and hand it, with the
// two-value request, to the port's driver.
//
// Thread-safety: runs on the thread that starts the run. It rewrites the
// process's one DeviceConfigBlock, which no worker thread reads, and the
// TesterOptions atomics, which workers of ports configured earlier read.
#ifndef QUARNEX_SETTINGS_CONFIGURE_PORT_H_
#define QUARNEX_SETTINGS_CONFIGURE_PORT_H_

#include <cstdint>

#include "testapp/driver/device.h"

namespace quarnex {

// Looked up in the current directory.
inline constexpr char kConfigFileName[] = "quarnex.cfg";

// The two values sent right after the block, in this order.
inline constexpr uint32_t kTwoValuesFirst = 1000;
inline constexpr uint32_t kTwoValuesSecond = 100;
inline constexpr uint32_t kTwoValuesSize = 8;

// Zeroes the global block, reads kConfigFileName into it and the tester
// options, applies the StripSyncIdle preset when that option is nonzero
// (also one kept from an earlier read), then sends the 338-byte block and
// the two values to `device` (an open device, not null) with synchronous
// control requests. A missing
// file (reported on standard output by the reader) and a rejected request
// are ignored: the block is sent all the same. Returns 1 every time; the
// block keeps what was sent until the next call.
int ConfigurePort(Device* device);

// The same with another configuration file.
int ConfigurePortFromFile(Device* device, const char* file_name);

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_CONFIGURE_PORT_H_
