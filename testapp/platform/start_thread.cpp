#include "testapp/platform/start_thread.h"

#include <system_error>
#include <utility>

#include "testapp/platform/open_error.h"

namespace quarnex {

bool StartThread(std::thread* thread, std::function<void()> body, std::string* reason) {
  // Catching here rather than calling pthread_create keeps std::thread's
  // join semantics for the callers and builds alike on every platform; the
  // library throws system_error for a failed creation and nothing else
  // that a caller could survive.
  try {
    *thread = std::thread(std::move(body));
  } catch (const std::system_error& error) {
    *reason = "cannot create a thread: " + OpenErrorText(error.code().value());
    return false;
  }
  return true;
}

}  // namespace quarnex
