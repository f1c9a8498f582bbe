// The line side of a port: frames leaving the line on the scheduler's
// timers, arriving from the far end, and the source far end's own frames.
#include <algorithm>
#include <cstring>

#include "adapter/sim_port.h"
#include "adapter/sim_port_util.h"

namespace quarnex {

using sim_internal::Cookie;
using sim_internal::CopyOut;
using sim_internal::Le32;

void SimPort::OnTimer(uint64_t cookie, SimClock::time_point deadline) {
  const uint64_t value = cookie >> kTimerKindBits;
  switch (cookie & ((1u << kTimerKindBits) - 1)) {
    case kTxDone:
      TxDone();
      break;
    case kSourceFrame:
      SourceFrame(value, deadline);
      break;
    case kControlDone:
      ControlDone(value);
      break;
    case kUnplug:
      Unplug(value);
      break;
    default:
      break;
  }
}

void SimPort::TxDone() {
  std::vector<std::vector<uint8_t>> leaving;
  uint64_t sender = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const SimClock::time_point now = SimClock::now();
    while (!tx_.empty() && tx_.front().leaves <= now) {
      TxFrame& f = tx_.front();
      if (f.completion != nullptr) {
        // The copy happens under mu_: a purge cannot end this write while
        // its buffer is being read.
        leaving.emplace_back(f.caller_data, f.caller_data + f.length);
        Finish(f.completion, kErrorSuccess, f.length);
      } else {
        leaving.push_back(std::move(f.copy));
      }
      ++frames_sent_;
      tx_.pop_front();
    }
    if (leaving.empty()) return;  // purged, or another timer was first
    frames_in_transit_ += static_cast<int>(leaving.size());
    sender = session_;
  }
  for (std::vector<uint8_t>& frame : leaving) Transmit(std::move(frame), sender);
  std::lock_guard<std::mutex> lock(mu_);
  frames_in_transit_ -= static_cast<int>(leaving.size());
}

void SimPort::Transmit(std::vector<uint8_t> frame, uint64_t session) {
  switch (far_.kind) {
    case FarEndKind::kLoopback:
      Arrive(std::move(frame), session);
      break;
    case FarEndKind::kNullModem:
      if (std::shared_ptr<SimPort> peer = peer_.lock()) peer->Arrive(std::move(frame), 0);
      break;
    case FarEndKind::kSink:
    case FarEndKind::kSource:  // a source only talks
      break;
  }
}

void SimPort::Arrive(std::vector<uint8_t> frame, uint64_t session) {
  std::lock_guard<std::mutex> lock(mu_);
  // An unplugged port is no longer on the line: what the far end sends is
  // lost, as with a closed port.
  if (!open_ || unplugged_ || (session != 0 && session != session_)) return;
  if (!AcceptArrivalLocked(&frame)) return;
  if (!reads_.empty()) {
    const PendingRead read = reads_.front();
    reads_.pop_front();
    ++frames_received_;
    Finish(read.completion, kErrorSuccess, CopyOut(frame, read.buffer, read.length));
    CompleteLineWaitsLocked(kLineEventFrame);
    return;
  }
  if (!rx_.empty() && (rx_.size() >= kMaxFramesWaiting || rx_bytes_ + frame.size() > kMaxBytesWaiting)) {
    ++frames_lost_;
    RaiseLineErrorsLocked(kCeRxOver);
    return;
  }
  ++frames_received_;
  rx_bytes_ += frame.size();
  rx_.push_back(std::move(frame));
  CompleteLineWaitsLocked(kLineEventFrame);
}

bool SimPort::AcceptArrivalLocked(std::vector<uint8_t>* frame) {
  uint32_t flags = 0;
  const bool kept = dice_.OnFrame(frame, &flags);
  RaiseLineErrorsLocked(flags);
  if (!kept) ++frames_lost_;
  return kept;
}

void SimPort::RaiseLineErrorsLocked(uint32_t flags) {
  if (flags == 0) return;
  registers_.line_errors |= flags;
  CompleteLineWaitsLocked(kLineEventLineError);
}

void SimPort::CompleteLineWaitsLocked(uint32_t events) {
  for (auto it = controls_.begin(); it != controls_.end();) {
    if (it->timing != ControlTiming::kUntilLineEvent) {
      ++it;
      continue;
    }
    Finish(it->completion, kErrorSuccess, CopyOut(Le32(events), it->out, it->out_size));
    it = controls_.erase(it);
  }
}

uint32_t SimPort::NextSourceLengthLocked() const {
  if (!source_data_ || source_data_->empty()) return far_.frame_size;
  return static_cast<uint32_t>(std::min<uint64_t>(far_.frame_size, source_data_->size() - source_offset_));
}

std::vector<uint8_t> SimPort::NextSourceFrameLocked() {
  const uint32_t length = NextSourceLengthLocked();
  std::vector<uint8_t> frame(length);
  if (!source_data_ || source_data_->empty()) {
    for (uint32_t i = 0; i < length; ++i) frame[i] = PatternByte(i);
    return frame;
  }
  // The file in chunks; the last chunk may be short, then it starts over.
  std::memcpy(frame.data(), source_data_->data() + source_offset_, length);
  source_offset_ += length;
  if (source_offset_ >= source_data_->size()) source_offset_ = 0;
  return frame;
}

void SimPort::RestartSourceLocked() {
  ++source_generation_;
  if (!open_ || far_.kind != FarEndKind::kSource || !timing_.paced()) return;
  // The first frame arrives once it has crossed the line.
  LineScheduler::Instance().Schedule(SimClock::now() + timing_.FrameTime(NextSourceLengthLocked()), shared_from_this(),
                                     Cookie(kSourceFrame, source_generation_, kTimerKindBits));
}

void SimPort::SourceFrame(uint64_t generation, SimClock::time_point deadline) {
  std::vector<uint8_t> frame;
  uint64_t session = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (generation != source_generation_ || !open_) return;
    frame = NextSourceFrameLocked();
    session = session_;
    // Back to back: the next frame arrives one line time after this one
    // was due, however late this timer ran.
    LineScheduler::Instance().Schedule(deadline + timing_.FrameTime(NextSourceLengthLocked()), shared_from_this(),
                                       Cookie(kSourceFrame, generation, kTimerKindBits));
  }
  Arrive(std::move(frame), session);
}

}  // namespace quarnex
