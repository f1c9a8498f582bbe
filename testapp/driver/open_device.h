// Opening a port by its device path, through the backend the program chose.
// Each program's main() installs its opener (testapp/wiring has the one both
// use); this layer knows no backend.
#ifndef QUARNEX_DRIVER_OPEN_DEVICE_H_
#define QUARNEX_DRIVER_OPEN_DEVICE_H_

#include <functional>
#include <string>
#include <string_view>

#include "testapp/driver/device.h"

namespace quarnex {

// Opens "\\.\QuarnexNN" for reading and writing, exclusively, for
// overlapped transfers, through the installed opener. Returns null (the
// invalid value) when the port does not exist, is already open, the path is
// not a port name, or no opener is installed. Any thread.
DeviceRef OpenDevice(std::string_view path);

// Why the calling thread's last OpenDevice returned null, e.g. "in use
// (locked by another tester or program)"; "" when the port is simply not
// there or no reason is known. Taking it clears it.
std::string TakeOpenProblem();

// For an opener: why the open it is doing fails, for TakeOpenProblem.
void NoteOpenProblem(std::string problem);

// What the calling thread's last OpenDevice tried to open: the device the
// port maps to (a TTY path, a COM port, "simulated adapter port 8"); ""
// when the opener named none. Taking it clears it.
std::string TakeOpenTarget();

// For an opener: what the open it is doing tries, for TakeOpenTarget.
void NoteOpenTarget(std::string target);

// Installs the program's opener (tests install fakes); an empty function
// leaves none. Not to be called while another thread opens a device.
// Process-wide like the device names it resolves: "\\.\Quarnex01" means
// the same port to every part of a program.
using DeviceOpener = std::function<DeviceRef(std::string_view path)>;
void SetDeviceOpener(DeviceOpener opener);

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_OPEN_DEVICE_H_
