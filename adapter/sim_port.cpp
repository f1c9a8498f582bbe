#include "adapter/sim_port.h"

#include <algorithm>
#include <new>

#include "adapter/sim_port_util.h"

namespace quarnex {

using sim_internal::Cookie;
using sim_internal::CopyOut;
using sim_internal::Le32;

namespace {

// An unpaced source produces frames on demand; faults may eat a few, but a
// read should not loop forever when every frame is dropped.
constexpr int kOnDemandTries = 16;

}  // namespace

SimPort::SimPort(int number, const FarEnd& far, const FaultDice& dice,
                 std::shared_ptr<const FileContents> source_data, SimClock::duration unplug_after)
    : number_(number),
      far_(far),
      source_data_(std::move(source_data)),
      unplug_after_(unplug_after),
      far_lines_(lines_),
      dice_(dice) {
  registers_.own = lines_.get();
  registers_.far = far_lines_.get();
}

SimPort::~SimPort() = default;

void SimPort::ConnectPeer(const std::shared_ptr<SimPort>& peer) {
  std::lock_guard<std::mutex> lock(mu_);
  peer_ = peer;
  far_lines_ = peer->lines_;
  registers_.far = far_lines_.get();
}

void SimPort::Finish(Completion* c, uint32_t error, uint32_t count) {
  const EventRef event = c->event;
  c->count.store(count, std::memory_order_relaxed);
  c->status.store(error, std::memory_order_release);
  if (event) event->Set();
}

void SimPort::Pend(Completion* c) {
  c->count.store(0, std::memory_order_relaxed);
  c->status.store(kErrorIoIncomplete, std::memory_order_release);
}

uint64_t SimPort::Open() {
  std::lock_guard<std::mutex> lock(mu_);
  if (open_) return 0;
  const uint64_t session = session_ + 1;
  const SimClock::time_point now = SimClock::now();
  // A port that could not be pulled on time would break its promise; it
  // rather stays closed (out of memory for the timer).
  if (unplug_after_ > SimClock::duration::zero() &&
      !LineScheduler::Instance().Schedule(now + unplug_after_, shared_from_this(),
                                          Cookie(kUnplug, session, kTimerKindBits))) {
    return 0;
  }
  open_ = true;
  unplugged_ = false;
  session_ = session;
  line_free_ = now;
  source_offset_ = 0;
  RestartSourceLocked();
  return session_;
}

IoStatus SimPort::Read(uint64_t session, void* buffer, uint32_t length, Completion* c,
                       bool overlapped) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!ValidLocked(session)) return IoStatus{kErrorInvalidHandle, 0};
  if (unplugged_) return Unplugged(c);
  if (buffer == nullptr && length > 0) return IoStatus{kErrorInvalidParameter, 0};
  // As the platform does, starting a transfer withdraws a stale signal of
  // the record's event, so a wait never returns for an earlier transfer.
  if (c->event) c->event->Reset();
  const FaultDice::Fate fate = overlapped ? dice_.OnTransfer() : FaultDice::Fate::kNormal;
  if (fate == FaultDice::Fate::kRefuse) return IoStatus{dice_.refuse_error(), 0};
  // Each step below allocates before it changes anything, so a transfer
  // that runs out of memory fails and leaves the port as it was.
  try {
    return StartReadLocked(static_cast<uint8_t*>(buffer), length, c, fate);
  } catch (const std::bad_alloc&) {
    return IoStatus{kErrorNotEnoughMemory, 0};
  }
}

IoStatus SimPort::StartReadLocked(uint8_t* out, uint32_t length, Completion* c,
                                  FaultDice::Fate fate) {
  if (fate == FaultDice::Fate::kHang) {
    hung_.push_back(HungTransfer{HungKind::kRead, c});
    Pend(c);
    return IoStatus{kErrorIoPending, 0};
  }
  if (!rx_.empty()) {
    // Frames wait only while no read is pending, so this read is next.
    const uint32_t n = CopyOut(rx_.front(), out, length);
    rx_bytes_ -= rx_.front().size();
    rx_.pop_front();
    Finish(c, kErrorSuccess, n);
    return IoStatus{kErrorSuccess, n};
  }
  if (far_.kind == FarEndKind::kSource && !timing_.paced() && reads_.empty()) {
    for (int i = 0; i < kOnDemandTries; ++i) {
      std::vector<uint8_t> frame;
      if (!NextSourceFrameLocked(&frame)) {
        OverflowLocked();
        continue;
      }
      if (!AcceptArrivalLocked(&frame)) continue;
      ++frames_received_;
      const uint32_t n = CopyOut(frame, out, length);
      Finish(c, kErrorSuccess, n);
      return IoStatus{kErrorSuccess, n};
    }
  }
  if (fate == FaultDice::Fate::kInstant) {
    Finish(c, kErrorSuccess, 0);
    return IoStatus{kErrorSuccess, 0};
  }
  reads_.push_back(PendingRead{out, length, c});
  Pend(c);
  return IoStatus{kErrorIoPending, 0};
}

IoStatus SimPort::Write(uint64_t session, const void* data, uint32_t length, Completion* c,
                        bool overlapped) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!ValidLocked(session)) return IoStatus{kErrorInvalidHandle, 0};
  if (unplugged_) return Unplugged(c);
  if (data == nullptr && length > 0) return IoStatus{kErrorInvalidParameter, 0};
  if (c->event) c->event->Reset();
  const FaultDice::Fate fate = overlapped ? dice_.OnTransfer() : FaultDice::Fate::kNormal;
  if (fate == FaultDice::Fate::kRefuse) return IoStatus{dice_.refuse_error(), 0};
  try {
    return StartWriteLocked(lock, static_cast<const uint8_t*>(data), length, c, fate);
  } catch (const std::bad_alloc&) {
    return IoStatus{kErrorNotEnoughMemory, 0};
  }
}

IoStatus SimPort::StartWriteLocked(std::unique_lock<std::mutex>& lock, const uint8_t* bytes,
                                   uint32_t length, Completion* c, FaultDice::Fate fate) {
  if (fate == FaultDice::Fate::kHang) {
    // The frame never reaches the line.
    hung_.push_back(HungTransfer{HungKind::kWrite, c});
    Pend(c);
    return IoStatus{kErrorIoPending, 0};
  }
  if (!timing_.paced() && tx_.empty() && frames_in_transit_ == 0) {
    // An unpaced line with nothing ahead: the frame arrives before the write
    // returns. Frames still in transit would be overtaken, so those cases
    // take the queue below.
    std::vector<uint8_t> frame(bytes, bytes + length);
    ++frames_sent_;
    TransmitUnlocked(lock, std::move(frame));
    Finish(c, kErrorSuccess, length);
    return IoStatus{kErrorSuccess, length};
  }
  const SimClock::time_point start = std::max(SimClock::now(), line_free_);
  TxFrame frame{bytes, {}, length, c, start + timing_.FrameTime(length)};
  // A write completes before its frame has left the line only once the
  // frame fits in the transmit buffer, behind the writes already waiting
  // for room; a full buffer holds the writer back to the rate of the line,
  // as a real driver's does.
  const bool buffered = !timing_.paced() || fate == FaultDice::Fate::kInstant;
  const bool at_once = buffered && tx_waiting_frames_ == 0 && TxBufferHasRoomLocked(length);
  if (at_once) {
    // The caller may reuse its buffer once the write completed.
    frame.copy.assign(bytes, bytes + length);
    frame.caller_data = nullptr;
    frame.completion = nullptr;
  } else {
    frame.waits_for_room = buffered;
  }
  tx_.push_back(std::move(frame));
  line_free_ = tx_.back().leaves;
  ArmTxTimerLocked(line_free_);
  if (!at_once) {
    if (buffered) ++tx_waiting_frames_;
    Pend(c);
    return IoStatus{kErrorIoPending, 0};
  }
  ++tx_buffered_frames_;
  tx_buffered_bytes_ += length;
  Finish(c, kErrorSuccess, length);
  return IoStatus{kErrorSuccess, length};
}

IoStatus SimPort::Control(uint64_t session, uint32_t code, const void* in, uint32_t in_size,
                          void* out, uint32_t out_size, Completion* c, bool overlapped) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!ValidLocked(session)) return IoStatus{kErrorInvalidHandle, 0};
  if (unplugged_) return Unplugged(c);
  const ControlEntry* entry = FindControl(code);
  if (entry == nullptr) return IoStatus{kErrorInvalidFunction, 0};
  if (in_size < entry->in_size || (entry->in_size > 0 && in == nullptr) ||
      out_size < entry->out_size || (entry->out_size > 0 && out == nullptr)) {
    return IoStatus{kErrorInvalidParameter, 0};
  }
  if (c->event) c->event->Reset();
  const FaultDice::Fate fate = overlapped ? dice_.OnTransfer() : FaultDice::Fate::kNormal;
  if (fate == FaultDice::Fate::kRefuse) return IoStatus{dice_.refuse_error(), 0};
  try {
    return StartControlLocked(*entry, in, in_size, static_cast<uint8_t*>(out), out_size, c, fate);
  } catch (const std::bad_alloc&) {
    // Handlers allocate their answer before (or instead of) changing a
    // register, so nothing half-done stays behind.
    return IoStatus{kErrorNotEnoughMemory, 0};
  }
}

IoStatus SimPort::StartControlLocked(const ControlEntry& entry, const void* in, uint32_t in_size,
                                     uint8_t* out, uint32_t out_size, Completion* c,
                                     FaultDice::Fate fate) {
  if (fate == FaultDice::Fate::kHang) {
    hung_.push_back(HungTransfer{HungKind::kControl, c});
    Pend(c);
    return IoStatus{kErrorIoPending, 0};
  }
  registers_.frames_waiting = rx_.size();
  ControlAnswer answer =
      entry.handler(registers_, ControlRequest{static_cast<const uint8_t*>(in), in_size, out_size});
  if (answer.error != kErrorSuccess) return IoStatus{answer.error, 0};
  if (answer.timing_changed) {
    timing_ = TimingFromBlock(registers_.config_block.data());
    RestartSourceLocked();
  }
  if (answer.timing == ControlTiming::kUntilLineEvent && fate == FaultDice::Fate::kInstant) {
    // Completed at once: no event happened.
    const uint32_t n = CopyOut(Le32(0), out, out_size);
    Finish(c, kErrorSuccess, n);
    return IoStatus{kErrorSuccess, n};
  }
  if (answer.timing == ControlTiming::kAtOnce || fate == FaultDice::Fate::kInstant) {
    const uint32_t n = CopyOut(answer.out, out, out_size);
    Finish(c, kErrorSuccess, n);
    return IoStatus{kErrorSuccess, n};
  }
  const uint64_t id = next_control_id_++;
  controls_.push_back(PendingControl{id, c, out, out_size, std::move(answer.out), answer.timing});
  if (answer.timing == ControlTiming::kBriefly &&
      !LineScheduler::Instance().Schedule(SimClock::now() + kBriefPending, shared_from_this(),
                                          Cookie(kControlDone, id, kTimerKindBits))) {
    // Without a timer it would pend for ever; done now is the lesser fault.
    const uint32_t n = CopyOut(controls_.back().answer, out, out_size);
    controls_.pop_back();
    Finish(c, kErrorSuccess, n);
    return IoStatus{kErrorSuccess, n};
  }
  Pend(c);
  return IoStatus{kErrorIoPending, 0};
}

bool SimPort::ClearCommError(uint64_t session, uint32_t* errors, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!ValidLocked(session)) {
    if (error != nullptr) *error = kErrorInvalidHandle;
    return false;
  }
  if (errors != nullptr) *errors = registers_.line_errors;
  registers_.line_errors = 0;
  if (error != nullptr) *error = kErrorSuccess;
  return true;
}

bool SimPort::Purge(uint64_t session, uint32_t flags) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!ValidLocked(session)) return false;
  if (flags & kPurgeTxAbort) {
    EndWritesLocked(kErrorOperationAborted);
    EndHungLocked(HungKind::kWrite, kErrorOperationAborted);
    // Control requests travel the transmit path of the driver.
    EndControlsLocked(kErrorOperationAborted);
    EndHungLocked(HungKind::kControl, kErrorOperationAborted);
  }
  if (flags & kPurgeRxAbort) {
    EndReadsLocked(kErrorOperationAborted);
    EndHungLocked(HungKind::kRead, kErrorOperationAborted);
  }
  if (flags & kPurgeTxClear) {
    // Frames whose writes already completed are only buffered data now.
    std::erase_if(tx_, [](const TxFrame& f) { return f.completion == nullptr; });
    tx_buffered_frames_ = 0;
    tx_buffered_bytes_ = 0;
    line_free_ = tx_.empty() ? SimClock::now() : std::max(SimClock::now(), tx_.back().leaves);
    FillTxBufferLocked();
  }
  if (flags & kPurgeRxClear) {
    rx_.clear();
    rx_bytes_ = 0;
  }
  return true;
}

bool SimPort::SetCommMask(uint64_t session, uint32_t mask) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!ValidLocked(session)) return false;
  comm_mask_ = mask;
  // A new mask ends a pending wait, which then reports no event.
  CompleteLineWaitsLocked(0);
  return true;
}

void SimPort::Close(uint64_t session) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!ValidLocked(session)) return;
  EndReadsLocked(kErrorOperationAborted);
  EndWritesLocked(kErrorOperationAborted);
  EndControlsLocked(kErrorOperationAborted);
  EndHungLocked(HungKind::kRead, kErrorOperationAborted);
  EndHungLocked(HungKind::kWrite, kErrorOperationAborted);
  EndHungLocked(HungKind::kControl, kErrorOperationAborted);
  ClearTxLocked();
  rx_.clear();
  rx_bytes_ = 0;
  registers_.line_errors = 0;
  comm_mask_ = 0;
  lines_->rts.store(false);
  lines_->dtr.store(false);
  open_ = false;
  ++source_generation_;  // the source stops with the session
}

SimPortState SimPort::State() const {
  std::lock_guard<std::mutex> lock(mu_);
  SimPortState s;
  s.port = number_;
  s.far_end = far_.kind;
  s.open = open_;
  s.has_config_block = registers_.has_config_block;
  if (s.has_config_block)
    s.config_block.assign(registers_.config_block.begin(), registers_.config_block.end());
  s.has_two_values = registers_.has_two_values;
  s.two_values[0] = registers_.two_values[0];
  s.two_values[1] = registers_.two_values[1];
  s.rts = lines_->rts.load();
  s.dtr = lines_->dtr.load();
  s.cts = far_lines_->rts.load();
  s.dcd = far_lines_->dtr.load();
  s.timing = timing_;
  s.line_errors = registers_.line_errors;
  s.comm_mask = comm_mask_;
  s.frames_sent = frames_sent_;
  s.frames_received = frames_received_;
  s.frames_lost = frames_lost_;
  s.frames_waiting = rx_.size();
  s.unplugged = unplugged_;
  return s;
}

void SimPort::ControlDone(uint64_t id) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = std::find_if(controls_.begin(), controls_.end(),
                         [id](const PendingControl& p) { return p.id == id; });
  if (it == controls_.end()) return;  // aborted meanwhile
  Finish(it->completion, kErrorSuccess, CopyOut(it->answer, it->out, it->out_size));
  controls_.erase(it);
}

void SimPort::Unplug(uint64_t session) {
  std::lock_guard<std::mutex> lock(mu_);
  // A timer of an earlier open: this one counts from its own open.
  if (!ValidLocked(session) || unplugged_) return;
  unplugged_ = true;
  EndReadsLocked(kErrorDeviceNotConnected);
  EndWritesLocked(kErrorDeviceNotConnected);
  EndControlsLocked(kErrorDeviceNotConnected);
  for (HungKind kind : {HungKind::kRead, HungKind::kWrite, HungKind::kControl}) {
    EndHungLocked(kind, kErrorDeviceNotConnected);
  }
  // What the device buffered went with it, and its lines drop for the far
  // end as at a close.
  ClearTxLocked();
  rx_.clear();
  rx_bytes_ = 0;
  registers_.line_errors = 0;
  lines_->rts.store(false);
  lines_->dtr.store(false);
  ++source_generation_;
}

void SimPort::ClearTxLocked() {
  tx_.clear();
  tx_buffered_frames_ = 0;
  tx_buffered_bytes_ = 0;
  tx_waiting_frames_ = 0;
}

IoStatus SimPort::Unplugged(Completion* c) {
  if (c->event) c->event->Reset();
  return IoStatus{kErrorDeviceNotConnected, 0};
}

void SimPort::EndReadsLocked(uint32_t error) {
  for (const PendingRead& r : reads_) Finish(r.completion, error, 0);
  reads_.clear();
}

void SimPort::EndWritesLocked(uint32_t error) {
  for (const TxFrame& f : tx_) {
    if (f.completion != nullptr) Finish(f.completion, error, 0);
  }
  // An aborted write's frame leaves the line with it.
  std::erase_if(tx_, [](const TxFrame& f) { return f.completion != nullptr; });
  tx_waiting_frames_ = 0;
  line_free_ = tx_.empty() ? SimClock::now() : std::max(SimClock::now(), tx_.back().leaves);
}

void SimPort::EndControlsLocked(uint32_t error) {
  for (const PendingControl& p : controls_) Finish(p.completion, error, 0);
  controls_.clear();
}

void SimPort::EndHungLocked(HungKind kind, uint32_t error) {
  for (const HungTransfer& h : hung_) {
    if (h.kind == kind) Finish(h.completion, error, 0);
  }
  std::erase_if(hung_, [kind](const HungTransfer& h) { return h.kind == kind; });
}

}  // namespace quarnex
