// The ports of the real-serial-port backend: a folder of links, one per
// port, chosen by environment variables.
//
//   QUARNEX_TTY_DIR=/path/to/folder   every "\\.\QuarnexNN" opens the link
//                                     QuarnexNN in that folder (e.g.
//                                     Quarnex01 -> /dev/ttyUSB0) instead of
//                                     the simulated adapter; unset or empty:
//                                     the simulated adapter as before
//   QUARNEX_TTY_FRAMED=1              every port is opened framed (the
//                                     N_HDLC line discipline); unset, empty
//                                     or anything else: byte streams
//
// Thread-safety: any thread. The variables are read at each open, so a
// change takes effect at the next run.
#ifndef QUARNEX_SERIAL_TTY_PORTS_H_
#define QUARNEX_SERIAL_TTY_PORTS_H_

#include <string>

#include "serial/tty_device.h"
#include "testapp/driver/device.h"

namespace quarnex {

inline constexpr char kTtyDirVariable[] = "QUARNEX_TTY_DIR";
inline constexpr char kTtyFramedVariable[] = "QUARNEX_TTY_FRAMED";

struct TtyBackendSettings {
  std::string dir;  // the folder of links
  bool framed = false;
};

// Reads the two variables. False when QUARNEX_TTY_DIR is unset or empty:
// then the backend is not in use.
bool TtyBackendFromEnvironment(TtyBackendSettings* settings);

// The name of port `port_number`'s link, "Quarnex01" for 1, "Quarnex128"
// for 128: the device path without its "\\.\" prefix.
std::string TtyLinkName(int port_number);

// How port `port_number` is opened: framed as settings say, named by its
// link name in messages.
TtyOpenOptions TtyPortOptions(const TtyBackendSettings& settings, int port_number);

// Opens port `port_number` through its link in settings.dir. Null when the
// link is missing or leads nowhere (silently, as a missing port), or when
// the TTY cannot be used (then the reason, as OpenTtyPath gives it: in
// use, not a terminal, no N_HDLC, ...).
DeviceRef OpenTtyPort(const TtyBackendSettings& settings, int port_number,
                      std::string* problem = nullptr);

// Opens the TTY at `path` as OpenTtyPort opens a link: null, silently,
// when nothing is there; null with the reason "PATH: reason" when the TTY
// cannot be used, e.g. the internal loopback that options.internal_loopback
// asks for is not offered. The reason goes to *problem, or to stderr when
// `problem` is null.
DeviceRef OpenTtyPath(const std::string& path, const TtyOpenOptions& options,
                      std::string* problem = nullptr);

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_TTY_PORTS_H_
