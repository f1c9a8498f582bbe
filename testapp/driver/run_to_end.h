// Synchronous transfers for backends: a call without a completion record is
// an overlapped one that the calling thread waits for.
#ifndef QUARNEX_DRIVER_RUN_TO_END_H_
#define QUARNEX_DRIVER_RUN_TO_END_H_

#include <chrono>
#include <new>
#include <thread>

#include "testapp/driver/device.h"

namespace quarnex {

// Starts the transfer with `start(Completion*)` and, when it goes pending,
// waits for it and returns device->Result. Out of memory it fails with
// kErrorNotEnoughMemory before it starts or, once started, watches the
// record instead of waiting on its event: the device writes into the record
// until the transfer ends, so the record must not go before then.
template <typename Start>
IoStatus RunToEnd(Device* device, Start start) {
  // How often the record is looked at when its event cannot be waited on.
  constexpr auto kPollInterval = std::chrono::milliseconds(1);
  EventRef event;
  try {
    event = MakeEvent(Event::Kind::kManualReset);
  } catch (const std::bad_alloc&) {
  }
  if (event == nullptr) return IoStatus{kErrorNotEnoughMemory, 0};
  Completion completion(event);
  const IoStatus started = start(&completion);
  if (!started.pending()) return started;
  bool waited = false;
  try {
    waited = WaitAny({completion.event.get()}, kInfinite) == 0;
  } catch (const std::bad_alloc&) {
  }
  while (!waited && completion.status.load(std::memory_order_acquire) == kErrorIoIncomplete) {
    std::this_thread::sleep_for(kPollInterval);
  }
  return device->Result(completion);
}

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_RUN_TO_END_H_
