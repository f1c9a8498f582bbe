// The line side of a port: frames leaving the line on the scheduler's
// timers, arriving from the far end, and the source far end's own frames.
#include <algorithm>
#include <cstring>
#include <new>

#include "adapter/sim_port.h"
#include "adapter/sim_port_util.h"
#include "testapp/pattern/packet_pattern.h"

namespace quarnex {

using sim_internal::Cookie;
using sim_internal::CopyOut;
using sim_internal::Le32;

void SimPort::OnTimer(uint64_t cookie, SimClock::time_point deadline) {
  const uint64_t value = cookie >> kTimerKindBits;
  switch (cookie & ((1u << kTimerKindBits) - 1)) {
    case kTxDone:
      TxDone(deadline);
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

void SimPort::ArmTxTimerLocked(SimClock::time_point at) {
  // The timer that runs first re-arms for the frame then at the front, so
  // one timer per port is enough however many frames wait.
  if (tx_timer_armed_ && tx_timer_at_ <= at) return;
  if (!LineScheduler::Instance().Schedule(at, shared_from_this(), kTxDone)) return;
  tx_timer_armed_ = true;
  tx_timer_at_ = at;
}

bool SimPort::TxBufferHasRoomLocked(uint32_t length) const {
  return tx_buffered_frames_ < kMaxTxFramesBuffered &&
         tx_buffered_bytes_ + length <= kMaxTxBytesBuffered;
}

void SimPort::FillTxBufferLocked() {
  for (TxFrame& f : tx_) {
    if (tx_waiting_frames_ == 0) return;
    if (!f.waits_for_room) continue;
    if (!TxBufferHasRoomLocked(f.length)) return;  // in order: the ones behind wait too
    try {
      f.copy.assign(f.caller_data, f.caller_data + f.length);
    } catch (const std::bad_alloc&) {
      return;  // it completes when it leaves the line instead
    }
    Finish(f.completion, kErrorSuccess, f.length);
    f.caller_data = nullptr;
    f.completion = nullptr;
    f.waits_for_room = false;
    --tx_waiting_frames_;
    ++tx_buffered_frames_;
    tx_buffered_bytes_ += f.length;
  }
}

void SimPort::TxDone(SimClock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mu_);
  // A later timer left from before a purge also lands here; it finds
  // nothing due, or pops what is, and changes nothing else.
  if (tx_timer_armed_ && tx_timer_at_ == deadline) tx_timer_armed_ = false;
  const SimClock::time_point now = SimClock::now();
  while (!tx_.empty() && tx_.front().leaves <= now) {
    TxFrame& f = tx_.front();
    std::vector<uint8_t> frame;
    bool carried = true;
    if (f.completion != nullptr) {
      // The copy happens under mu_: a purge cannot end this write while
      // its buffer is being read.
      try {
        frame.assign(f.caller_data, f.caller_data + f.length);
      } catch (const std::bad_alloc&) {
        carried = false;  // left the line, but lost on the way
      }
      Finish(f.completion, kErrorSuccess, f.length);
      if (f.waits_for_room) --tx_waiting_frames_;
    } else {
      frame = std::move(f.copy);
      --tx_buffered_frames_;
      tx_buffered_bytes_ -= f.length;
    }
    ++frames_sent_;
    tx_.pop_front();
    if (!carried) continue;
    // Handed over without mu_; a write meanwhile queues behind it.
    TransmitUnlocked(lock, std::move(frame));
  }
  FillTxBufferLocked();
  if (!tx_.empty()) ArmTxTimerLocked(tx_.front().leaves);
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
  if (!rx_.empty() &&
      (rx_.size() >= kMaxFramesWaiting || rx_bytes_ + frame.size() > kMaxBytesWaiting)) {
    OverflowLocked();
    return;
  }
  const size_t size = frame.size();
  try {
    rx_.push_back(std::move(frame));
  } catch (const std::bad_alloc&) {
    OverflowLocked();
    return;
  }
  ++frames_received_;
  rx_bytes_ += size;
  CompleteLineWaitsLocked(kLineEventFrame);
}

void SimPort::OverflowLocked() {
  ++frames_lost_;
  RaiseLineErrorsLocked(kCeRxOver);
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
  if (!source_data_ || source_data_->size == 0) return far_.frame_size;
  return static_cast<uint32_t>(
      std::min<uint64_t>(far_.frame_size, source_data_->size - source_offset_));
}

bool SimPort::NextSourceFrameLocked(std::vector<uint8_t>* frame) {
  const uint32_t length = NextSourceLengthLocked();
  const bool pattern = !source_data_ || source_data_->size == 0;
  const uint64_t offset = source_offset_;
  // The file in chunks; the last chunk may be short, then it starts over.
  // The source moves on even when this frame cannot be made.
  if (!pattern) {
    source_offset_ += length;
    if (source_offset_ >= source_data_->size) source_offset_ = 0;
  }
  try {
    frame->resize(length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (pattern) {
    FillPattern(PatternKind::kLetters, 0, frame->data(), length);
  } else {
    std::memcpy(frame->data(), source_data_->bytes.get() + offset, length);
  }
  return true;
}

void SimPort::RestartSourceLocked() {
  ++source_generation_;
  if (!open_ || far_.kind != FarEndKind::kSource || !timing_.paced()) return;
  // The first frame arrives once it has crossed the line.
  LineScheduler::Instance().Schedule(SimClock::now() + timing_.FrameTime(NextSourceLengthLocked()),
                                     shared_from_this(),
                                     Cookie(kSourceFrame, source_generation_, kTimerKindBits));
}

void SimPort::SourceFrame(uint64_t generation, SimClock::time_point deadline) {
  std::vector<uint8_t> frame;
  uint64_t session = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (generation != source_generation_ || !open_) return;
    const bool made = NextSourceFrameLocked(&frame);
    session = session_;
    // Back to back: the next frame arrives one line time after this one
    // was due, however late this timer ran.
    LineScheduler::Instance().Schedule(deadline + timing_.FrameTime(NextSourceLengthLocked()),
                                       shared_from_this(),
                                       Cookie(kSourceFrame, generation, kTimerKindBits));
    if (!made) {
      OverflowLocked();
      return;
    }
  }
  Arrive(std::move(frame), session);
}

void SimPort::TransmitUnlocked(std::unique_lock<std::mutex>& lock, std::vector<uint8_t> frame) {
  ++frames_in_transit_;
  const uint64_t sender = session_;
  lock.unlock();
  Transmit(std::move(frame), sender);
  lock.lock();
  --frames_in_transit_;
}

}  // namespace quarnex
