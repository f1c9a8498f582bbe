#include "testapp/driver/fake_backend.h"

#include <utility>

namespace quarnex {

BackendTable FakeBackends(std::function<DeviceRef(std::string_view path)> open) {
  return {{.name = "fake", .open = [open = std::move(open)](const PortRequest& request) {
             return OpenResult{open(request.path), "", ""};
           }}};
}

}  // namespace quarnex
