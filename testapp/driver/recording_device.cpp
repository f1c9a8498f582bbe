#include "testapp/driver/recording_device.h"

#include <algorithm>
#include <cstring>

namespace quarnex {

namespace {

void Finish(Completion* c, uint32_t error, uint32_t count) {
  if (c == nullptr) return;
  // Once status leaves "in progress" the owner may free the record, so take
  // the event first.
  EventRef event = c->event;
  c->count.store(count, std::memory_order_relaxed);
  c->status.store(error, std::memory_order_release);
  if (event) event->Set();
}

}  // namespace

void RecordingDevice::Script(Op op, Answer answer) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_[static_cast<int>(op)].push_back(std::move(answer));
}

IoStatus RecordingDevice::Start(Op op, Request request, void* out, uint32_t out_size,
                                Completion* completion) {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.push_back(request);
  if (closed_) return IoStatus{kErrorInvalidHandle, 0};
  Answer answer;
  auto& queue = answers_[static_cast<int>(op)];
  if (!queue.empty()) {
    answer = std::move(queue.front());
    queue.pop_front();
  }
  const uint32_t requested = op == Op::kControl ? out_size : request.length;
  switch (answer.kind) {
    case Answer::kFail:
      return IoStatus{answer.error, 0};
    case Answer::kPending:
      if (completion != nullptr) {
        completion->count.store(0, std::memory_order_relaxed);
        completion->status.store(kErrorIoIncomplete, std::memory_order_release);
        if (completion->event && completion->event->kind() == Event::Kind::kManualReset) {
          completion->event->Reset();
        }
      }
      pending_.push_back(Pending{op, out, out_size, completion});
      return IoStatus{kErrorIoPending, 0};
    case Answer::kDone:
    default: {
      uint32_t count = answer.count < 0 ? requested : static_cast<uint32_t>(answer.count);
      if (out != nullptr && !answer.data.empty()) {
        std::memcpy(out, answer.data.data(), std::min<size_t>(answer.data.size(), out_size));
      }
      if (completion != nullptr) {
        completion->count.store(count, std::memory_order_relaxed);
        completion->status.store(kErrorSuccess, std::memory_order_release);
      }
      return IoStatus{kErrorSuccess, count};
    }
  }
}

IoStatus RecordingDevice::Read(void* buffer, uint32_t length, Completion* completion) {
  Request r{Op::kRead, 0, {}, length, completion != nullptr};
  return Start(Op::kRead, std::move(r), buffer, length, completion);
}

IoStatus RecordingDevice::Write(const void* data, uint32_t length, Completion* completion) {
  Request r{Op::kWrite, 0, {}, length, completion != nullptr};
  const auto* p = static_cast<const uint8_t*>(data);
  if (p != nullptr) r.input.assign(p, p + length);
  return Start(Op::kWrite, std::move(r), nullptr, 0, completion);
}

IoStatus RecordingDevice::Control(uint32_t code, const void* in, uint32_t in_size, void* out,
                                  uint32_t out_size, Completion* completion) {
  Request r{Op::kControl, code, {}, out_size, completion != nullptr};
  const auto* p = static_cast<const uint8_t*>(in);
  if (p != nullptr) r.input.assign(p, p + in_size);
  return Start(Op::kControl, std::move(r), out, out_size, completion);
}

bool RecordingDevice::CompleteNext(Op op, uint32_t error, std::vector<uint8_t> data,
                                   int64_t count) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it =
      std::find_if(pending_.begin(), pending_.end(), [op](const Pending& p) { return p.op == op; });
  if (it == pending_.end()) return false;
  Pending p = *it;
  pending_.erase(it);
  if (p.out != nullptr && !data.empty()) {
    std::memcpy(p.out, data.data(), std::min<size_t>(data.size(), p.out_size));
  }
  const uint32_t n = count < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(count);
  Finish(p.completion, error, error == kErrorSuccess ? n : 0);
  return true;
}

size_t RecordingDevice::PendingCount(Op op) const {
  std::lock_guard<std::mutex> lock(mu_);
  return std::count_if(pending_.begin(), pending_.end(),
                       [op](const Pending& p) { return p.op == op; });
}

std::vector<RecordingDevice::Request> RecordingDevice::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

int RecordingDevice::PurgeCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return purges_;
}

uint32_t RecordingDevice::LastPurgeFlags() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_purge_flags_;
}

int RecordingDevice::CloseCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return closes_;
}

std::vector<uint32_t> RecordingDevice::CommMasks() const {
  std::lock_guard<std::mutex> lock(mu_);
  return comm_masks_;
}

void RecordingDevice::SetCommErrors(uint32_t mask, bool ok) {
  std::lock_guard<std::mutex> lock(mu_);
  comm_errors_ = mask;
  comm_ok_ = ok;
}

bool RecordingDevice::ClearCommError(uint32_t* errors, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || !comm_ok_) {
    if (error != nullptr) *error = closed_ ? kErrorInvalidHandle : kErrorGenFailure;
    return false;
  }
  if (errors != nullptr) *errors = comm_errors_;
  comm_errors_ = 0;
  return true;
}

void RecordingDevice::AbortAllLocked() {
  for (const Pending& p : pending_) Finish(p.completion, kErrorOperationAborted, 0);
  pending_.clear();
}

bool RecordingDevice::Purge(uint32_t flags) {
  std::lock_guard<std::mutex> lock(mu_);
  ++purges_;
  last_purge_flags_ = flags;
  if (closed_) return false;
  AbortAllLocked();
  return true;
}

bool RecordingDevice::SetCommMask(uint32_t mask) {
  std::lock_guard<std::mutex> lock(mu_);
  comm_masks_.push_back(mask);
  return !closed_;
}

void RecordingDevice::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  ++closes_;
  if (closed_) return;
  closed_ = true;
  AbortAllLocked();
}

}  // namespace quarnex
