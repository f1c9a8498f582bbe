// FdTransfers: the driver's overlapped reads and writes on one file
// descriptor, served by one I/O thread.
//
// The descriptor is non-blocking. The I/O thread sleeps in epoll on it and
// on an eventfd that wakes it when work arrives or the transfers stop; it
// never blocks in read() or write(), since neither tcflush nor close wakes
// a thread blocked there. The descriptor stays registered with the epoll
// set and its interest changes only when the transfers need other events,
// so a packet costs one wait, not a fresh poll set up and torn down for
// every wake-up.
//
// Two ways to carry data:
//  - stream (a TTY in raw mode): a read of N bytes completes once N bytes
//    arrived, accumulated over as many read() calls as it takes; a write
//    resumes after partial writes and completes once its last byte left
//    the kernel's output queue (TIOCOUTQ; a pseudo-terminal keeps no such
//    queue, so there it completes once the kernel took the bytes, and the
//    queue is not asked at all).
//  - framed (the N_HDLC line discipline, or any descriptor that keeps
//    message boundaries, such as a SOCK_SEQPACKET socket): one write is
//    one frame, one read returns one frame. A frame longer than the read
//    fails the read with kErrorMoreData and is dropped, as N_HDLC drops it
//    with EOVERFLOW.
// Reads complete in the order they were started, and so do writes. A
// transfer that can finish at once does (done, with its record filled and
// its event set); otherwise it goes pending.
//
// A pending read lends the descriptor to the waits on its event (an
// EventDriver): the thread that waits for the read watches the descriptor
// itself and moves the reads on, so the read completes on that thread with
// one wake-up, not one of the I/O thread and then another of the waiter.
// The I/O thread leaves the input to those waits: on a fast line a reader
// posts its next read before it waits for it, and handing the input to the
// I/O thread in between would cost two epoll_ctl calls a packet. Instead
// the I/O thread looks at the pending reads every kUnattendedReadCheck; a
// read that has been first in line since its last look while no wait
// watches the descriptor (nobody waits for it, or its wait gave up) makes
// it serve the input itself, until a wait watches the descriptor again. So
// a pending read completes whether or not a thread waits for it, within
// about two checks of being left unwatched. The I/O thread watches
// the output while a write has bytes the kernel did not take yet; whoever
// changes what it should watch changes its epoll set, so it needs no
// wake-up for that.
//
// A hang-up (POLLHUP, end of file, EIO: the far end of a pseudo-terminal
// closed, a USB adapter was unplugged) means the device is gone: every
// pending transfer fails with kErrorDeviceNotConnected, and every later one
// at once. The thread then stops watching the descriptor, which would
// report the hang-up for ever, so it does not spin on it.
//
// Thread-safety: every method may be called from any thread, concurrently.
// One mutex guards the queues and is held whenever a read() copies into a
// caller's buffer, a write() reads from one, or a record is written. Purge
// and Stop take it to abort, so once they return the aborted transfers'
// buffers and records are never touched again.
//
// Buffer lifetime: as for Device: a pending transfer's buffer and record
// must live until it completed or Purge/Stop aborted it.
#ifndef QUARNEX_SERIAL_FD_TRANSFERS_H_
#define QUARNEX_SERIAL_FD_TRANSFERS_H_

#include <sys/epoll.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "testapp/driver/device.h"
#include "testapp/platform/unique_fd.h"

namespace quarnex {

// True when a failed call's errno says the device is gone for good (a
// hung-up TTY answers EIO to reads, writes and ioctls alike), not that this
// one call failed.
bool IsHangUpErrno(int e);

class FdTransfers {
 public:
  enum class Framing { kStream, kFramed };

  // How often the I/O thread looks for pending reads that no wait watches.
  static constexpr std::chrono::milliseconds kUnattendedReadCheck{100};

  // `fd` must be non-blocking and stay open until Stop() has returned; the
  // caller owns it. Whether it is a TTY (flushed with tcflush, drained by
  // TIOCOUTQ) or a socket (framed reads check for truncation) is found out
  // here.
  FdTransfers(int fd, Framing framing);
  ~FdTransfers();  // Stop()
  FdTransfers(const FdTransfers&) = delete;
  FdTransfers& operator=(const FdTransfers&) = delete;

  // Starts the I/O thread. False (with *error set) when the wake-up
  // eventfd or the epoll set cannot be made, or epoll cannot watch the
  // descriptor (every TTY and socket can be watched); then every transfer
  // fails with kErrorInvalidHandle.
  bool Start(uint32_t* error);

  // Start a transfer. `completion` is not null. Return done (the record is
  // filled and its event set), pending (kErrorIoPending; the event is set
  // when it ends), or an error with the record untouched: kErrorInvalidHandle
  // after Stop, kErrorDeviceNotConnected after a hang-up,
  // kErrorInvalidParameter for a null buffer.
  IoStatus Read(void* buffer, uint32_t length, Completion* completion);
  IoStatus Write(const void* data, uint32_t length, Completion* completion);

  // kPurgeTxAbort / kPurgeRxAbort end pending writes / reads as aborted
  // (kErrorOperationAborted); kPurgeTxClear / kPurgeRxClear discard what
  // the kernel holds in its output / input queue (on a descriptor that is
  // no TTY: the input still buffered is read and dropped). False after Stop.
  bool Purge(uint32_t flags);

  // Tells how fast the line drains, so that a write waiting for the output
  // queue is checked about when it should have left. 0 for an unknown rate.
  void SetLinePace(uint32_t bit_rate, int bits_per_character);

  // Ends every outstanding transfer as aborted and joins the I/O thread.
  // Later calls do nothing; transfers started afterwards fail with
  // kErrorInvalidHandle. Not to be called from the I/O thread (nothing
  // there calls back into this object).
  void Stop();

  bool hung_up() const;

 private:
  class Driver;
  struct PendingRead {
    uint8_t* buffer;
    uint32_t length;
    uint32_t got;  // stream: bytes accumulated so far
    Completion* completion;
    uint64_t serial;  // tells the reads apart for CheckUnattendedReadsLocked
  };
  struct PendingWrite {
    const uint8_t* data;
    uint32_t length;
    uint32_t sent;      // bytes the kernel has taken
    uint64_t end_mark;  // accepted_ once the last byte was taken
    Completion* completion;
  };
  enum class Step { kComplete, kWait, kFailed, kHungUp };

  static void Finish(Completion* c, uint32_t error, uint32_t count);
  static void Pend(Completion* c);

  // One attempt to move a transfer on, without blocking. *error is set for
  // kFailed.
  Step ReadStepLocked(PendingRead* r, uint32_t* error);
  Step WriteStepLocked(PendingWrite* w, uint32_t* error);
  // The I/O thread's look at the pending reads (see the file comment): arms
  // the next look while reads are pending, and takes over the input when
  // the first one has waited a whole period with no wait watching.
  void CheckUnattendedReadsLocked(std::chrono::steady_clock::time_point now);
  // Bytes that have left the kernel's output queue, counted like accepted_.
  uint64_t DrainedLocked() const;
  // Completes the sent writes whose bytes have left the output queue.
  void CompleteDrainedWritesLocked();
  // Whether a wait watches the descriptor now (a hint without mu_).
  bool WatchedByWaits() const;
  // The Driver's calls: a wait begins to watch while the I/O thread serves
  // the input, and takes it back; a wait saw the descriptor ready.
  // AdvanceLocked is false once watching it is of no more use (stopped,
  // hung up).
  void StopServingInputLocked();
  bool AdvanceLocked();
  void ServiceLocked();
  void HangUpLocked();
  void AbortReadsLocked();
  void AbortWritesLocked();
  void DiscardInputLocked();
  bool AwaitingDrainLocked() const;
  std::chrono::nanoseconds DrainWaitLocked();
  void Wake();
  // Makes the epoll set watch the descriptor for what the transfers need of
  // the I/O thread now (nothing: left out of the set); a system call only
  // when that changes.
  void UpdateWatchLocked();
  // Waits for the epoll set's events, at most `timeout` (null: no limit).
  // Returns how many events it stored, 0 on a time-out or a signal.
  int WaitForEvents(epoll_event* events, int max, const timespec* timeout);
  void Loop();

  const int fd_;
  const Framing framing_;
  bool is_tty_ = false;             // fixed after construction
  bool is_socket_ = false;          // fixed after construction
  bool has_output_queue_ = false;   // fixed after construction; TIOCOUTQ means something
  UniqueFd wake_fd_;                // set by Start
  UniqueFd epoll_fd_;               // set by Start
  bool has_epoll_pwait2_ = true;    // the I/O thread's; false once the kernel said ENOSYS
  std::thread thread_;              // started by Start, joined by Stop
  std::shared_ptr<Driver> driver_;  // made by the constructor; detached by Stop

  std::mutex stop_mu_;  // serialises Stop, so exactly one caller joins

  // The driver's mutex: a wait that advances the transfers takes this one
  // lock, and it stays valid while an event still holds the driver.
  std::mutex& mu_;
  bool running_ = false;                   // guarded by mu_; Start succeeded, Stop not yet
  bool stopping_ = false;                  // guarded by mu_
  bool hung_up_ = false;                   // guarded by mu_
  std::deque<PendingRead> reads_;          // guarded by mu_
  std::deque<PendingWrite> writes_;        // guarded by mu_
  uint64_t accepted_ = 0;                  // guarded by mu_; bytes the kernel took, ever
  uint32_t bit_rate_ = 0;                  // guarded by mu_
  int bits_per_character_ = 10;            // guarded by mu_
  uint64_t last_drained_ = 0;              // guarded by mu_; for the drain back-off
  std::chrono::nanoseconds drain_wait_{};  // guarded by mu_; last wait without progress
  uint32_t watched_events_ = 0;            // guarded by mu_; what epoll_fd_ watches fd_ for
  uint64_t reads_queued_ = 0;              // guarded by mu_; pending reads ever, for serials
  // The I/O thread's wait ends by read_check_at_ to look at the pending
  // reads; while it is false a read that goes pending wakes the thread.
  bool read_check_armed_ = false;                        // guarded by mu_
  std::chrono::steady_clock::time_point read_check_at_;  // guarded by mu_
  uint64_t checked_read_ = 0;  // guarded by mu_; serial of the first read at the last look, 0: none
  // The last read() left the input queue empty (EAGAIN, or fewer bytes than
  // asked), or the last read had to wait for its data; the next read then
  // starts pending without asking again.
  bool input_drained_ = false;  // guarded by mu_
  // The I/O thread's current wait has a time-out for the output queue; it
  // sets this under mu_ before it sleeps, so a caller that holds mu_ knows
  // whether a write waiting for the queue needs a wake-up.
  bool watching_drain_ = false;  // guarded by mu_
};

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_FD_TRANSFERS_H_
