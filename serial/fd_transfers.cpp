#include "serial/fd_transfers.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace quarnex {

namespace {

using std::chrono::nanoseconds;

// A write waiting for the output queue is checked no more often than this,
// and at least this often, whatever the line rate says.
constexpr nanoseconds kMinDrainWait = std::chrono::microseconds(50);
constexpr nanoseconds kMaxDrainWait = std::chrono::milliseconds(100);
// Without a known rate the queue is looked at every millisecond at first.
constexpr nanoseconds kUnknownRateDrainWait = std::chrono::milliseconds(1);
// Discarding the input of a descriptor that is no TTY reads at most this
// many chunks, so a peer that never stops sending cannot hold Purge.
constexpr int kMaxDiscardChunks = 4096;
// The device numbers of the slaves of Unix 98 pseudo-terminals
// (UNIX98_PTY_SLAVE_MAJOR and the majors above it that the kernel may use).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;
// What the epoll set reports of the wake-up eventfd.
constexpr uint64_t kWakeToken = 0;
constexpr uint64_t kDescriptorToken = 1;

uint32_t ErrorOfErrno(int e) {
  switch (e) {
    case EBADF:
      return kErrorInvalidHandle;
    case EINVAL:
    case EFAULT:
    case EMSGSIZE:
      return kErrorInvalidParameter;
    case ENOMEM:
    case ENOBUFS:
      return kErrorNotEnoughMemory;
    case EOVERFLOW:
      return kErrorMoreData;
    default:
      return kErrorGenFailure;
  }
}

timespec ToTimespec(nanoseconds wait) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
  ts.tv_nsec = static_cast<long>(wait.count() % 1000000000);
  return ts;
}

// Whether the TTY keeps an output queue that TIOCOUTQ counts. A
// pseudo-terminal's slave hands what is written straight to its master and
// always reads 0, so asking it after every write would only cost a call.
bool HasOutputQueue(const struct stat& st) {
  if (!S_ISCHR(st.st_mode)) return true;
  const unsigned major_number = major(st.st_rdev);
  return major_number < kFirstPtySlaveMajor || major_number > kLastPtySlaveMajor;
}

}  // namespace

// Lent to the events of pending reads. It outlives the transfers when an
// event keeps it; Stop detaches it, and then it does nothing. It holds the
// transfers' mutex, so that a wait's Advance takes one lock, and the count
// of waits that watch the descriptor, which a wait changes without any
// lock. Only FdTransfers uses its members.
class FdTransfers::Driver final : public EventDriver {
 public:
  Driver(FdTransfers* owner, int fd) : owner(owner), fd_(fd) {}
  int fd() const override { return fd_; }
  void BeginWatch() override {
    watchers.fetch_add(1, std::memory_order_seq_cst);
    // Rare: the I/O thread took the input over while no wait watched. It
    // hands it back now (and, should it set the flag just after this look,
    // sees this wait's count and clears the flag itself).
    if (serving_input.load(std::memory_order_seq_cst)) {
      std::lock_guard<std::mutex> lock(mu);
      if (owner != nullptr) owner->StopServingInputLocked();
    }
  }
  void EndWatch() override { watchers.fetch_sub(1, std::memory_order_seq_cst); }
  bool Advance() override {
    std::lock_guard<std::mutex> lock(mu);
    return owner != nullptr && owner->AdvanceLocked();
  }

  // The transfers' mutex (FdTransfers::mu_ refers to it).
  std::mutex mu;
  FdTransfers* owner;  // guarded by mu; null once stopped
  // Waits that watch the descriptor themselves.
  std::atomic<int> watchers{0};
  // The I/O thread serves the input of the pending reads itself, as no wait
  // watched for a whole check; until a wait watches again. Written under
  // mu; read without it by BeginWatch.
  std::atomic<bool> serving_input{false};

 private:
  const int fd_;
};

bool IsHangUpErrno(int e) {
  return e == EIO || e == ENXIO || e == ENODEV || e == EPIPE || e == ECONNRESET;
}

FdTransfers::FdTransfers(int fd, Framing framing)
    : fd_(fd), framing_(framing), driver_(std::make_shared<Driver>(this, fd)), mu_(driver_->mu) {
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  is_socket_ = known && S_ISSOCK(st.st_mode);
  is_tty_ = isatty(fd) == 1;
  has_output_queue_ = is_tty_ && (!known || HasOutputQueue(st));
}

FdTransfers::~FdTransfers() { Stop(); }

bool FdTransfers::Start(uint32_t* error) {
  const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) {
    if (error != nullptr) *error = ErrorOfErrno(errno);
    return false;
  }
  wake_fd_.Reset(wake);
  epoll_fd_.Reset(epoll_create1(EPOLL_CLOEXEC));
  epoll_event wake_event{};
  wake_event.events = EPOLLIN;
  wake_event.data.u64 = kWakeToken;
  // Added here so that a descriptor epoll cannot watch fails the start; the
  // I/O thread's first wait leaves it out again, as no read is pending.
  epoll_event input_event{};
  input_event.events = EPOLLIN;
  input_event.data.u64 = kDescriptorToken;
  if (!epoll_fd_.valid() ||
      epoll_ctl(epoll_fd_.get(), EPOLL_CTL_ADD, wake_fd_.get(), &wake_event) != 0 ||
      epoll_ctl(epoll_fd_.get(), EPOLL_CTL_ADD, fd_, &input_event) != 0) {
    if (error != nullptr) *error = ErrorOfErrno(errno);
    epoll_fd_.Reset();
    wake_fd_.Reset();
    return false;
  }
  watched_events_ = EPOLLIN;
  {
    std::lock_guard<std::mutex> lock(mu_);
    running_ = true;
  }
  // A thread that cannot be made fails the open; it never throws out of it.
  try {
    thread_ = std::thread(&FdTransfers::Loop, this);
  } catch (const std::system_error&) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      running_ = false;
    }
    epoll_fd_.Reset();
    wake_fd_.Reset();
    if (error != nullptr) *error = kErrorNotEnoughMemory;
    return false;
  }
  return true;
}

void FdTransfers::Finish(Completion* c, uint32_t error, uint32_t count) {
  // The event is taken first: the owner may free the record as soon as it
  // sees the status.
  const EventRef event = c->event;
  c->count.store(count, std::memory_order_relaxed);
  c->status.store(error, std::memory_order_release);
  if (event) event->Set();
}

void FdTransfers::Pend(Completion* c) {
  c->count.store(0, std::memory_order_relaxed);
  c->status.store(kErrorIoIncomplete, std::memory_order_release);
}

IoStatus FdTransfers::Read(void* buffer, uint32_t length, Completion* c) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!running_) return IoStatus{kErrorInvalidHandle, 0};
  if (buffer == nullptr && length > 0) return IoStatus{kErrorInvalidParameter, 0};
  // As the platform does, starting a transfer withdraws a stale signal of
  // its record's event.
  if (c->event) c->event->Reset();
  if (hung_up_) return IoStatus{kErrorDeviceNotConnected, 0};
  if (length == 0) {
    Finish(c, kErrorSuccess, 0);
    return IoStatus{kErrorSuccess, 0};
  }
  PendingRead r{static_cast<uint8_t*>(buffer), length, 0, c, 0};
  // After a read() that emptied the input queue, or a read that had to wait
  // for its data, a new read() would most likely only hear EAGAIN (in
  // Loopback the read is always posted before its packet is sent): the read
  // goes pending, and the wait that watches the descriptor (or the I/O
  // thread) finds at once whatever did arrive.
  if (reads_.empty() && !input_drained_) {
    uint32_t error = kErrorSuccess;
    switch (ReadStepLocked(&r, &error)) {
      case Step::kComplete:
        Finish(c, kErrorSuccess, r.got);
        return IoStatus{kErrorSuccess, r.got};
      case Step::kFailed:
        return IoStatus{error, 0};
      case Step::kHungUp:
        HangUpLocked();
        return IoStatus{kErrorDeviceNotConnected, 0};
      case Step::kWait:
        break;
    }
  }
  Pend(c);
  if (c->event) c->event->SetDriver(driver_);
  r.serial = ++reads_queued_;
  reads_.push_back(r);
  // The I/O thread sleeps without a time-out while no read is pending; it
  // must look at this one in time should nobody wait for it.
  if (!read_check_armed_) Wake();
  UpdateWatchLocked();
  return IoStatus{kErrorIoPending, 0};
}

IoStatus FdTransfers::Write(const void* data, uint32_t length, Completion* c) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!running_) return IoStatus{kErrorInvalidHandle, 0};
  if (data == nullptr && length > 0) return IoStatus{kErrorInvalidParameter, 0};
  if (c->event) c->event->Reset();
  if (hung_up_) return IoStatus{kErrorDeviceNotConnected, 0};
  if (length == 0) {
    Finish(c, kErrorSuccess, 0);
    return IoStatus{kErrorSuccess, 0};
  }
  PendingWrite w{static_cast<const uint8_t*>(data), length, 0, 0, c};
  if (writes_.empty()) {
    uint32_t error = kErrorSuccess;
    switch (WriteStepLocked(&w, &error)) {
      case Step::kComplete:
        if (DrainedLocked() >= w.end_mark) {
          Finish(c, kErrorSuccess, length);
          return IoStatus{kErrorSuccess, length};
        }
        break;
      case Step::kFailed:
        return IoStatus{error, 0};
      case Step::kHungUp:
        HangUpLocked();
        return IoStatus{kErrorDeviceNotConnected, 0};
      case Step::kWait:
        break;
    }
  }
  Pend(c);
  writes_.push_back(w);
  if (w.sent < w.length) {
    UpdateWatchLocked();
  } else if (!watching_drain_) {
    Wake();
  }
  return IoStatus{kErrorIoPending, 0};
}

bool FdTransfers::Purge(uint32_t flags) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!running_) return false;
  if (flags & kPurgeTxAbort) AbortWritesLocked();
  if (flags & kPurgeRxAbort) AbortReadsLocked();
  if ((flags & kPurgeTxClear) && is_tty_) tcflush(fd_, TCOFLUSH);
  if (flags & kPurgeRxClear) {
    DiscardInputLocked();
    input_drained_ = true;
  }
  UpdateWatchLocked();
  return true;
}

void FdTransfers::SetLinePace(uint32_t bit_rate, int bits_per_character) {
  std::lock_guard<std::mutex> lock(mu_);
  bit_rate_ = bit_rate;
  bits_per_character_ = std::max(1, bits_per_character);
}

void FdTransfers::Stop() {
  std::lock_guard<std::mutex> stop_lock(stop_mu_);
  {
    std::lock_guard<std::mutex> lock(mu_);
    // From here waits that watch the descriptor only see their events.
    driver_->owner = nullptr;
    if (!running_) return;
    running_ = false;
    stopping_ = true;
    AbortReadsLocked();
    AbortWritesLocked();
  }
  Wake();
  if (thread_.joinable()) thread_.join();
}

bool FdTransfers::hung_up() const {
  std::lock_guard<std::mutex> lock(mu_);
  return hung_up_;
}

FdTransfers::Step FdTransfers::ReadStepLocked(PendingRead* r, uint32_t* error) {
  for (;;) {
    uint8_t* at = r->buffer + r->got;
    const size_t room = r->length - r->got;
    // On a socket MSG_TRUNC returns the frame's whole length, so a frame
    // longer than the buffer is seen, as N_HDLC reports it with EOVERFLOW.
    const ssize_t n = framing_ == Framing::kFramed && is_socket_
                          ? recv(fd_, at, room, MSG_DONTWAIT | MSG_TRUNC)
                          : ::read(fd_, at, room);
    if (n > 0) {
      input_drained_ = false;
      if (framing_ == Framing::kFramed) {
        if (static_cast<size_t>(n) > room) {
          *error = kErrorMoreData;
          return Step::kFailed;
        }
        r->got = static_cast<uint32_t>(n);
        return Step::kComplete;
      }
      r->got += static_cast<uint32_t>(n);
      if (r->got == r->length) return Step::kComplete;
      // A short read took all there was: asking again now would only hear
      // EAGAIN. What comes next, the wait reports (so does a hang-up).
      if (static_cast<size_t>(n) < room) {
        input_drained_ = true;
        return Step::kWait;
      }
      continue;
    }
    // End of file: a hung-up TTY reads 0, and so does a socket whose peer
    // is gone. With VMIN 1 a live TTY never does; a frame is never empty.
    if (n == 0) return Step::kHungUp;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      input_drained_ = true;
      return Step::kWait;
    }
    if (IsHangUpErrno(errno)) return Step::kHungUp;
    *error = ErrorOfErrno(errno);
    return Step::kFailed;
  }
}

FdTransfers::Step FdTransfers::WriteStepLocked(PendingWrite* w, uint32_t* error) {
  while (w->sent < w->length) {
    const uint8_t* from = w->data + w->sent;
    const size_t left = w->length - w->sent;
    // send() on a socket, so that a vanished peer is EPIPE rather than a
    // SIGPIPE that ends the process.
    const ssize_t n =
        is_socket_ ? send(fd_, from, left, MSG_DONTWAIT | MSG_NOSIGNAL) : ::write(fd_, from, left);
    if (n > 0) {
      if (framing_ == Framing::kFramed && static_cast<size_t>(n) != left) {
        // The frame went out cut; the far end sees a wrong frame.
        *error = kErrorGenFailure;
        return Step::kFailed;
      }
      w->sent += static_cast<uint32_t>(n);
      accepted_ += static_cast<uint64_t>(n);
      continue;
    }
    if (n == 0) return Step::kWait;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Step::kWait;
    if (IsHangUpErrno(errno)) return Step::kHungUp;
    *error = ErrorOfErrno(errno);
    return Step::kFailed;
  }
  w->end_mark = accepted_;
  return Step::kComplete;
}

uint64_t FdTransfers::DrainedLocked() const {
  if (!has_output_queue_) return accepted_;
  int queued = 0;
  // Where the driver keeps no count (or after a hang-up) the queue is taken
  // as empty, so a write never waits forever for a figure that never comes.
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return accepted_;
  // N_HDLC counts the driver's bytes and the next frame only, not every
  // frame queued behind it, so a framed write is done only once the queue
  // is empty.
  if (framing_ == Framing::kFramed) return 0;
  return accepted_ - std::min<uint64_t>(static_cast<uint64_t>(queued), accepted_);
}

void FdTransfers::CompleteDrainedWritesLocked() {
  if (writes_.empty() || writes_.front().sent < writes_.front().length) return;
  const uint64_t drained = DrainedLocked();
  while (!writes_.empty()) {
    const PendingWrite& w = writes_.front();
    if (w.sent < w.length || drained < w.end_mark) break;
    Finish(w.completion, kErrorSuccess, w.length);
    writes_.pop_front();
  }
}

bool FdTransfers::AwaitingDrainLocked() const {
  return !writes_.empty() && writes_.front().sent == writes_.front().length;
}

nanoseconds FdTransfers::DrainWaitLocked() {
  const uint64_t drained = DrainedLocked();
  const uint64_t mark = writes_.front().end_mark;
  uint64_t remaining = 0;
  if (framing_ == Framing::kFramed) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) remaining = static_cast<uint64_t>(queued);
  } else if (mark > drained) {
    remaining = mark - drained;
  }
  nanoseconds wait = kUnknownRateDrainWait;
  if (bit_rate_ > 0) {
    wait = nanoseconds(remaining * static_cast<uint64_t>(bits_per_character_) * 1000000000ull /
                       bit_rate_);
  }
  wait = std::clamp(wait, kMinDrainWait, kMaxDrainWait);
  // A queue that did not move (flow control holds the line, or the rate is
  // not what we think) is looked at less and less often.
  if (drain_wait_.count() > 0 && drained == last_drained_) {
    wait = std::min(std::max(wait, drain_wait_ * 2), kMaxDrainWait);
  }
  drain_wait_ = wait;
  last_drained_ = drained;
  return wait;
}

void FdTransfers::ServiceLocked() {
  if (hung_up_ || stopping_) return;
  uint32_t error = kErrorSuccess;
  while (!reads_.empty()) {
    PendingRead& r = reads_.front();
    const Step step = ReadStepLocked(&r, &error);
    if (step == Step::kWait) break;
    if (step == Step::kHungUp) {
      HangUpLocked();
      return;
    }
    Finish(r.completion, step == Step::kComplete ? kErrorSuccess : error,
           step == Step::kComplete ? r.got : 0);
    reads_.pop_front();
    // A read that waited for its data took what came while it waited: the
    // reader has caught up with the line, and the next read most likely
    // waits too.
    input_drained_ = true;
  }
  for (size_t i = 0; i < writes_.size();) {
    PendingWrite& w = writes_[i];
    if (w.sent == w.length) {
      ++i;
      continue;
    }
    const Step step = WriteStepLocked(&w, &error);
    if (step == Step::kWait) break;
    if (step == Step::kHungUp) {
      HangUpLocked();
      return;
    }
    if (step == Step::kFailed) {
      Finish(w.completion, error, 0);
      writes_.erase(writes_.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    ++i;
  }
  CompleteDrainedWritesLocked();
}

void FdTransfers::HangUpLocked() {
  hung_up_ = true;
  for (const PendingRead& r : reads_) Finish(r.completion, kErrorDeviceNotConnected, 0);
  reads_.clear();
  for (const PendingWrite& w : writes_) Finish(w.completion, kErrorDeviceNotConnected, 0);
  writes_.clear();
}

void FdTransfers::AbortReadsLocked() {
  for (const PendingRead& r : reads_) Finish(r.completion, kErrorOperationAborted, 0);
  reads_.clear();
}

void FdTransfers::AbortWritesLocked() {
  for (const PendingWrite& w : writes_) Finish(w.completion, kErrorOperationAborted, 0);
  writes_.clear();
}

void FdTransfers::DiscardInputLocked() {
  if (is_tty_) {
    tcflush(fd_, TCIFLUSH);
    return;
  }
  uint8_t scratch[4096];
  for (int i = 0; i < kMaxDiscardChunks; ++i) {
    const ssize_t n = is_socket_ ? recv(fd_, scratch, sizeof(scratch), MSG_DONTWAIT)
                                 : ::read(fd_, scratch, sizeof(scratch));
    if (n <= 0 && !(n < 0 && errno == EINTR)) return;
  }
}

void FdTransfers::Wake() {
  const uint64_t one = 1;
  // A full counter already wakes the thread; nothing else can fail here.
  [[maybe_unused]] const ssize_t n = ::write(wake_fd_.get(), &one, sizeof(one));
}

bool FdTransfers::WatchedByWaits() const {
  return driver_->watchers.load(std::memory_order_seq_cst) > 0;
}

void FdTransfers::StopServingInputLocked() {
  driver_->serving_input.store(false, std::memory_order_seq_cst);
  UpdateWatchLocked();
}

bool FdTransfers::AdvanceLocked() {
  if (!running_ || stopping_ || hung_up_) return false;
  ServiceLocked();
  UpdateWatchLocked();
  return !hung_up_;
}

void FdTransfers::UpdateWatchLocked() {
  uint32_t events = 0;
  if (running_ && !stopping_ && !hung_up_) {
    if (driver_->serving_input.load(std::memory_order_relaxed) && !reads_.empty() &&
        !WatchedByWaits()) {
      events |= EPOLLIN;
    }
    if (std::any_of(writes_.begin(), writes_.end(),
                    [](const PendingWrite& w) { return w.sent < w.length; })) {
      events |= EPOLLOUT;
    }
  }
  if (events == watched_events_ || !epoll_fd_.valid()) return;
  epoll_event event{};
  event.events = events;
  event.data.u64 = kDescriptorToken;
  // Left out of the set rather than watched for nothing: epoll reports a
  // hang-up whatever the events asked, and after one it would do so at
  // once, for ever. A change reaches the I/O thread's wait in progress.
  const int op = events == 0 ? EPOLL_CTL_DEL : watched_events_ == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
  if (epoll_ctl(epoll_fd_.get(), op, fd_, &event) == 0) watched_events_ = events;
}

int FdTransfers::WaitForEvents(epoll_event* events, int max, const timespec* timeout) {
  int ready = -1;
  if (has_epoll_pwait2_) {
    ready = epoll_pwait2(epoll_fd_.get(), events, max, timeout, nullptr);
    if (ready < 0 && errno == ENOSYS) has_epoll_pwait2_ = false;
  }
  if (!has_epoll_pwait2_) {
    // Kernels before 5.11 wait whole milliseconds: rounded up, so a drain
    // check is never early.
    int ms = -1;
    if (timeout != nullptr) {
      const int64_t ns = static_cast<int64_t>(timeout->tv_sec) * 1000000000 + timeout->tv_nsec;
      ms = static_cast<int>(std::min<int64_t>((ns + 999999) / 1000000, 1000000));
    }
    ready = epoll_wait(epoll_fd_.get(), events, max, ms);
  }
  return std::max(ready, 0);  // EINTR counts as a time-out
}

void FdTransfers::CheckUnattendedReadsLocked(std::chrono::steady_clock::time_point now) {
  const uint64_t first = reads_.empty() || hung_up_ ? 0 : reads_.front().serial;
  if (read_check_armed_ && now < read_check_at_) return;
  // The same read has been first in line since the last look, so it has
  // waited at least a whole period; if no wait watches the descriptor now,
  // nobody may come to move it on.
  if (read_check_armed_ && first != 0 && first == checked_read_ && !WatchedByWaits()) {
    driver_->serving_input.store(true, std::memory_order_seq_cst);
    // A wait that began to watch meanwhile may have looked at the flag
    // before it was set; it keeps the input.
    if (WatchedByWaits()) driver_->serving_input.store(false, std::memory_order_seq_cst);
  }
  checked_read_ = first;
  read_check_armed_ = first != 0;
  read_check_at_ = now + kUnattendedReadCheck;
}

void FdTransfers::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    ServiceLocked();
    if (stopping_) break;
    const auto now = std::chrono::steady_clock::now();
    CheckUnattendedReadsLocked(now);
    watching_drain_ = !hung_up_ && AwaitingDrainLocked();
    UpdateWatchLocked();
    timespec timeout;
    timespec* timeout_ptr = nullptr;
    nanoseconds wait = nanoseconds::max();
    if (watching_drain_) {
      wait = DrainWaitLocked();
    } else {
      drain_wait_ = nanoseconds(0);
    }
    if (read_check_armed_) {
      wait = std::min<nanoseconds>(wait, std::max<nanoseconds>(read_check_at_ - now, {}));
    }
    if (wait != nanoseconds::max()) {
      timeout = ToTimespec(wait);
      timeout_ptr = &timeout;
    }
    lock.unlock();
    epoll_event events[2];
    const int ready = WaitForEvents(events, 2, timeout_ptr);
    lock.lock();
    uint32_t revents = 0;
    for (int i = 0; i < ready; ++i) {
      if (events[i].data.u64 == kWakeToken) {
        uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t n = ::read(wake_fd_.get(), &wakes, sizeof(wakes));
      } else {
        revents = events[i].events;
      }
    }
    if (revents & (EPOLLHUP | EPOLLERR)) {
      // What arrived before the hang-up still reaches the reads; then the
      // rest fails.
      ServiceLocked();
      if (!hung_up_ && !stopping_) HangUpLocked();
    }
  }
}

}  // namespace quarnex
