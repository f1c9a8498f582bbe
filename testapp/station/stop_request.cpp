#include "testapp/station/stop_request.h"

#include <chrono>

namespace quarnex {

void StopRequest::Request() {
  {
    std::lock_guard lock(mu_);
    ++requests_;
  }
  cv_.notify_all();
}

bool StopRequest::Requested() const { return Count() > 0; }

int StopRequest::Count() const {
  std::lock_guard lock(mu_);
  return requests_;
}

bool StopRequest::WaitFor(double timeout_ms) { return WaitForMoreThan(0, timeout_ms); }

bool StopRequest::WaitForMoreThan(int seen, double timeout_ms) {
  std::unique_lock lock(mu_);
  if (timeout_ms > 0) {
    cv_.wait_for(lock, std::chrono::duration<double, std::milli>(timeout_ms),
                 [this, seen] { return requests_ > seen; });
  }
  return requests_ > seen;
}

}  // namespace quarnex
