#include "adapter/sim_port.h"
#include "testapp/driver/run_to_end.h"

namespace quarnex {

IoStatus SimDevice::Read(void* buffer, uint32_t length, Completion* completion) {
  if (completion != nullptr) return port_->Read(session_, buffer, length, completion, true);
  return RunToEnd(this,
                  [&](Completion* c) { return port_->Read(session_, buffer, length, c, false); });
}

IoStatus SimDevice::Write(const void* data, uint32_t length, Completion* completion) {
  if (completion != nullptr) return port_->Write(session_, data, length, completion, true);
  return RunToEnd(this,
                  [&](Completion* c) { return port_->Write(session_, data, length, c, false); });
}

IoStatus SimDevice::Control(uint32_t code, const void* in, uint32_t in_size, void* out,
                            uint32_t out_size, Completion* completion) {
  if (completion != nullptr)
    return port_->Control(session_, code, in, in_size, out, out_size, completion, true);
  return RunToEnd(this, [&](Completion* c) {
    return port_->Control(session_, code, in, in_size, out, out_size, c, false);
  });
}

bool SimDevice::ClearCommError(uint32_t* errors, uint32_t* error) {
  return port_->ClearCommError(session_, errors, error);
}

bool SimDevice::Purge(uint32_t flags) { return port_->Purge(session_, flags); }

bool SimDevice::SetCommMask(uint32_t mask) { return port_->SetCommMask(session_, mask); }

void SimDevice::Close() { port_->Close(session_); }

}  // namespace quarnex
