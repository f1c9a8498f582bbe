#include <chrono>
#include <new>
#include <thread>

#include "adapter/sim_port.h"

namespace quarnex {

namespace {

// How often a synchronous call looks at its record when it cannot wait on
// the record's event.
constexpr auto kPollInterval = std::chrono::milliseconds(1);

// Runs a transfer to its end on the calling thread: a synchronous call is an
// overlapped one that the caller waits for. Out of memory it fails with
// kErrorNotEnoughMemory before it starts, or, once started, watches the
// record instead of waiting on its event: the port writes into the record
// until the transfer ends, so it must not go before then.
template <typename Start>
IoStatus RunToEnd(Device* device, Start start) {
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

}  // namespace

IoStatus SimDevice::Read(void* buffer, uint32_t length, Completion* completion) {
  if (completion != nullptr) return port_->Read(session_, buffer, length, completion, true);
  return RunToEnd(this, [&](Completion* c) { return port_->Read(session_, buffer, length, c, false); });
}

IoStatus SimDevice::Write(const void* data, uint32_t length, Completion* completion) {
  if (completion != nullptr) return port_->Write(session_, data, length, completion, true);
  return RunToEnd(this, [&](Completion* c) { return port_->Write(session_, data, length, c, false); });
}

IoStatus SimDevice::Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                            Completion* completion) {
  if (completion != nullptr) return port_->Control(session_, code, in, in_size, out, out_size, completion, true);
  return RunToEnd(this,
                  [&](Completion* c) { return port_->Control(session_, code, in, in_size, out, out_size, c, false); });
}

bool SimDevice::ClearCommError(uint32_t* errors, uint32_t* error) {
  return port_->ClearCommError(session_, errors, error);
}

bool SimDevice::Purge(uint32_t flags) { return port_->Purge(session_, flags); }

bool SimDevice::SetCommMask(uint32_t mask) { return port_->SetCommMask(session_, mask); }

void SimDevice::Close() { port_->Close(session_); }

}  // namespace quarnex
