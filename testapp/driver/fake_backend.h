// A backend table for tests that open ports with a plain function.
#ifndef QUARNEX_DRIVER_FAKE_BACKEND_H_
#define QUARNEX_DRIVER_FAKE_BACKEND_H_

#include <functional>
#include <string_view>

#include "testapp/driver/backend_table.h"
#include "testapp/driver/device.h"

namespace quarnex {

// One entry that takes every port, mapped or not, and opens it with
// `open(path)`; a port it does not open is told as missing (nothing tried,
// no reason). `open` runs on the thread that opens the port.
BackendTable FakeBackends(std::function<DeviceRef(std::string_view path)> open);

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_FAKE_BACKEND_H_
