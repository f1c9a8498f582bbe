// Opening a port by its device path, whichever backend serves it.
#ifndef QUARNEX_DRIVER_OPEN_DEVICE_H_
#define QUARNEX_DRIVER_OPEN_DEVICE_H_

#include <functional>
#include <string>
#include <string_view>

#include "testapp/driver/device.h"

namespace quarnex {

// Opens "\\.\QuarnexNN" for reading and writing, exclusively, for
// overlapped transfers. Returns null (the invalid value) when the port does
// not exist, is already open, or the path is not a port name. Picks the
// backend: the opener installed with SetDeviceOpener; else the device the
// device map (device_map.h) names for port NN; else, when QUARNEX_TTY_DIR
// names a folder, the real serial port its link QuarnexNN leads to; else
// the simulated adapter. Any thread.
DeviceRef OpenDevice(std::string_view path);

// Why the calling thread's last OpenDevice returned null, e.g. "in use
// (locked by another tester or program)"; "" when the port is simply not
// there or no reason is known. Taking it clears it.
std::string TakeOpenProblem();

// Replaces the backend (tests install fakes); an empty function restores the
// default. Not to be called while another thread opens a device.
using DeviceOpener = std::function<DeviceRef(std::string_view path)>;
void SetDeviceOpener(DeviceOpener opener);

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_OPEN_DEVICE_H_
