// SimPort: one port of the simulated adapter, with its line and far end.
//
// A port moves frames: one write puts one frame on the line, where it stays
// for its line time (LineTiming of the last configuration block) behind the
// frames queued before it; when it has left the line the write completes
// and the far end receives it. A read of N bytes completes with the next
// frame that arrives, cut to N bytes. Pending writes, reads and control
// requests live in the port until they complete or Purge/Close abort them.
//
// Each open of the port is a session; SimDevice (the Device the adapter
// hands out) carries its session number, and every call of an older session
// fails with kErrorInvalidHandle.
//
// A port configured to be unplugged is pulled a set time after each open,
// on a scheduler timer, so an idle port goes as promptly as a busy one and
// nothing polls. From then on the device is gone: what was pending fails
// with kErrorDeviceNotConnected, and so does every later transfer at once;
// ClearCommError reports no errors, Purge and SetCommMask change nothing,
// Close ends the session as ever. The next open plugs the port in again.
//
// Memory stays bounded whatever the caller and the faults do: received
// frames nobody reads wait in a receive buffer of kMaxFramesWaiting frames
// (beyond it they are lost, raising kCeRxOver), and a write completes before
// its frame has left the line only once the frame fits in a transmit buffer
// of kMaxTxFramesBuffered frames; until then it pends. Each port has at most
// one transmit timer waiting for it. Out of memory, a transfer fails with
// kErrorNotEnoughMemory and changes nothing, and a frame that cannot be
// copied on the line side is lost; nothing throws.
//
// Thread-safety: every public method may be called from any thread. The
// port's mutex guards all its state and is held while the port copies into
// a caller's buffer or writes a completion record, so once Purge or Close
// has returned no aborted transfer is touched again. The scheduler thread
// calls OnTimer. A port never holds its own mutex while it takes another
// port's, so null-modem pairs cannot deadlock.
#ifndef QUARNEX_ADAPTER_SIM_PORT_H_
#define QUARNEX_ADAPTER_SIM_PORT_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "adapter/line_scheduler.h"
#include "adapter/sim_config.h"
#include "adapter/sim_controls.h"
#include "adapter/sim_faults.h"
#include "testapp/driver/device.h"
#include "testapp/platform/regular_file.h"

namespace quarnex {

// What tests may read of a port.
struct SimPortState {
  int port = 0;
  FarEndKind far_end = FarEndKind::kLoopback;
  bool open = false;
  bool has_config_block = false;
  std::vector<uint8_t> config_block;  // the last block received (338 bytes)
  bool has_two_values = false;
  uint32_t two_values[2] = {0, 0};
  bool rts = false, dtr = false, cts = false, dcd = false;
  LineTiming timing;
  uint32_t line_errors = 0;  // not yet collected by ClearCommError
  uint32_t comm_mask = 0;
  uint64_t frames_sent = 0;      // frames that left this port's line
  uint64_t frames_received = 0;  // frames that arrived (read or waiting)
  uint64_t frames_lost = 0;      // arrived frames dropped by a fault or a full queue
  size_t frames_waiting = 0;     // arrived, not yet read
  bool unplugged = false;        // pulled during this open
};

// A frame that arrives while this many frames (or bytes) wait unread is
// lost, and raises kCeRxOver, as a full receive buffer would.
inline constexpr size_t kMaxFramesWaiting = 1024;
inline constexpr size_t kMaxBytesWaiting = 4u << 20;
// Frames of writes that completed before their frame left the line (the
// instant fault, an unpaced line with frames ahead) wait in the port's
// transmit buffer, as in a driver that buffers writes. A write whose frame
// does not fit pends until it does, when enough frames have left the line
// (or, larger than the buffer, until its frame has left too), so a writer
// never gets ahead of the line by more than the buffer.
inline constexpr size_t kMaxTxFramesBuffered = 64;
inline constexpr size_t kMaxTxBytesBuffered = 1u << 20;

class SimPort : public TimerTarget, public std::enable_shared_from_this<SimPort> {
 public:
  // `source_data` is the file a kSource far end sends (null or empty: the
  // pattern). `unplug_after` above zero pulls the port that long after each
  // open.
  SimPort(int number, const FarEnd& far, const FaultDice& dice,
          std::shared_ptr<const FileContents> source_data,
          SimClock::duration unplug_after = SimClock::duration::zero());
  ~SimPort() override;

  // Wires a null-modem cable; called once for each end before any use.
  void ConnectPeer(const std::shared_ptr<SimPort>& peer);

  // Opens the port exclusively. Returns the new session (> 0), or 0 when the
  // port is open already.
  uint64_t Open();

  // Transfers: `completion` is never null here (SimDevice supplies one for
  // synchronous calls). `overlapped` false marks such a synchronous call,
  // which the configured faults spare: they model trouble on the line and
  // in the overlapped path, and a set-up request that hangs would only hang
  // the tester's start.
  IoStatus Read(uint64_t session, void* buffer, uint32_t length, Completion* completion,
                bool overlapped);
  IoStatus Write(uint64_t session, const void* data, uint32_t length, Completion* completion,
                 bool overlapped);
  IoStatus Control(uint64_t session, uint32_t code, const void* in, uint32_t in_size, void* out,
                   uint32_t out_size, Completion* completion, bool overlapped);
  bool ClearCommError(uint64_t session, uint32_t* errors, uint32_t* error);
  bool Purge(uint64_t session, uint32_t flags);
  bool SetCommMask(uint64_t session, uint32_t mask);
  // Aborts everything outstanding and ends the session. Does nothing for a
  // session that is over.
  void Close(uint64_t session);

  SimPortState State() const;
  int number() const { return number_; }

  void OnTimer(uint64_t cookie, SimClock::time_point deadline) override;

 private:
  enum TimerKind : uint64_t { kTxDone = 1, kSourceFrame = 2, kControlDone = 3, kUnplug = 4 };
  static constexpr int kTimerKindBits = 8;

  // A frame on (or queued for) the line. While its write is pending the
  // frame is the caller's buffer; a frame whose write already completed
  // carries its own copy.
  struct TxFrame {
    const uint8_t* caller_data;
    std::vector<uint8_t> copy;
    uint32_t length;
    Completion* completion;  // null once the write has completed
    SimClock::time_point leaves;
    // The write completes once the frame fits in the transmit buffer,
    // rather than when it leaves the line.
    bool waits_for_room = false;
  };
  struct PendingRead {
    uint8_t* buffer;
    uint32_t length;
    Completion* completion;
  };
  struct PendingControl {
    uint64_t id;
    Completion* completion;
    uint8_t* out;
    uint32_t out_size;
    std::vector<uint8_t> answer;
    ControlTiming timing;
  };
  enum class HungKind { kRead, kWrite, kControl };
  struct HungTransfer {
    HungKind kind;
    Completion* completion;
  };

  bool ValidLocked(uint64_t session) const { return open_ && session == session_; }
  // Stores count and status and signals the record's event; the event is
  // taken first because the caller may free the record as soon as it sees
  // the status.
  static void Finish(Completion* c, uint32_t error, uint32_t count);
  // Marks a transfer as pending; the event stays unsignalled until it ends.
  static void Pend(Completion* c);
  // A transfer started after the unplug fails at once; like any start, it
  // first withdraws a stale signal of the record's event.
  static IoStatus Unplugged(Completion* c);

  // The bodies of Read, Write and Control once the session, the arguments
  // and a refusal were checked; they may throw std::bad_alloc, and do so
  // before they change anything. StartWriteLocked may release `lock` while
  // it hands a frame to the far end.
  IoStatus StartReadLocked(uint8_t* out, uint32_t length, Completion* c, FaultDice::Fate fate);
  IoStatus StartWriteLocked(std::unique_lock<std::mutex>& lock, const uint8_t* bytes,
                            uint32_t length, Completion* c, FaultDice::Fate fate);
  IoStatus StartControlLocked(const ControlEntry& entry, const void* in, uint32_t in_size,
                              uint8_t* out, uint32_t out_size, Completion* c, FaultDice::Fate fate);
  // Drops every frame queued for the line (Close, unplug).
  void ClearTxLocked();
  // Whether a frame of `length` bytes fits in the transmit buffer now.
  bool TxBufferHasRoomLocked(uint32_t length) const;
  // Completes, in order, the writes waiting for room whose frames now fit.
  void FillTxBufferLocked();

  // Hands a frame that left the line to the far end. Called without mu_.
  void Transmit(std::vector<uint8_t> frame, uint64_t session);
  // Transmit with mu_ (held by `lock`) released around it; frames_in_transit_
  // keeps a later write's unpaced shortcut from overtaking the frame.
  void TransmitUnlocked(std::unique_lock<std::mutex>& lock, std::vector<uint8_t> frame);
  // The far end delivers a frame to this port. `session` 0 accepts any
  // session; a loopback frame names the session that sent it, so a frame of
  // a closed session never reaches the next one.
  void Arrive(std::vector<uint8_t> frame, uint64_t session);
  // Rolls the frame faults and counts the arrival; false when it is lost.
  bool AcceptArrivalLocked(std::vector<uint8_t>* frame);
  // A frame that found no room in the receive buffer (or no memory) is
  // lost and raises receive overflow.
  void OverflowLocked();
  void RaiseLineErrorsLocked(uint32_t flags);
  void CompleteLineWaitsLocked(uint32_t events);
  // The source's next frame; false (the frame is lost, the source goes on)
  // when memory for it cannot be had.
  bool NextSourceFrameLocked(std::vector<uint8_t>* frame);
  uint32_t NextSourceLengthLocked() const;
  void RestartSourceLocked();
  // End what is outstanding with `error`: kErrorOperationAborted for Purge
  // and Close, kErrorDeviceNotConnected for an unplug.
  void EndReadsLocked(uint32_t error);
  void EndWritesLocked(uint32_t error);
  void EndControlsLocked(uint32_t error);
  void EndHungLocked(HungKind kind, uint32_t error);

  // Sets the transmit timer for `at` unless one runs no later. A timer that
  // cannot be set is tried again by the next write or timer.
  void ArmTxTimerLocked(SimClock::time_point at);
  void TxDone(SimClock::time_point deadline);
  void SourceFrame(uint64_t generation, SimClock::time_point deadline);
  void ControlDone(uint64_t id);
  // The unplug timer of the open that made `session`.
  void Unplug(uint64_t session);

  const int number_;
  const FarEnd far_;
  const std::shared_ptr<const FileContents> source_data_;
  const SimClock::duration unplug_after_;  // zero: never pulled
  const std::shared_ptr<ModemLines> lines_ = std::make_shared<ModemLines>();
  std::shared_ptr<const ModemLines> far_lines_;  // set before any use
  std::weak_ptr<SimPort> peer_;                  // set before any use

  mutable std::mutex mu_;
  bool open_ = false;                    // guarded by mu_
  bool unplugged_ = false;               // guarded by mu_; pulled during this session
  uint64_t session_ = 0;                 // guarded by mu_
  PortRegisters registers_;              // guarded by mu_
  LineTiming timing_;                    // guarded by mu_
  uint32_t comm_mask_ = 0;               // guarded by mu_
  FaultDice dice_;                       // guarded by mu_
  std::deque<TxFrame> tx_;               // guarded by mu_
  size_t tx_buffered_frames_ = 0;        // guarded by mu_; frames of tx_ whose writes completed
  size_t tx_buffered_bytes_ = 0;         // guarded by mu_; and their bytes
  size_t tx_waiting_frames_ = 0;         // guarded by mu_; frames of tx_ that wait for room
  bool tx_timer_armed_ = false;          // guarded by mu_; a transmit timer runs at tx_timer_at_
  SimClock::time_point tx_timer_at_;     // guarded by mu_
  SimClock::time_point line_free_;       // guarded by mu_; when the last queued frame leaves
  int frames_in_transit_ = 0;            // guarded by mu_; popped, not yet handed over
  std::deque<std::vector<uint8_t>> rx_;  // guarded by mu_
  size_t rx_bytes_ = 0;                  // guarded by mu_
  std::deque<PendingRead> reads_;        // guarded by mu_
  std::deque<PendingControl> controls_;  // guarded by mu_
  std::vector<HungTransfer> hung_;       // guarded by mu_
  uint64_t next_control_id_ = 1;         // guarded by mu_
  uint64_t source_generation_ = 0;       // guarded by mu_
  uint64_t source_offset_ = 0;           // guarded by mu_
  uint64_t frames_sent_ = 0;             // guarded by mu_
  uint64_t frames_received_ = 0;         // guarded by mu_
  uint64_t frames_lost_ = 0;             // guarded by mu_
};

// The Device the adapter hands out for one open of a port. Closing it (or
// destroying it) ends its session.
class SimDevice : public Device {
 public:
  SimDevice(std::shared_ptr<SimPort> port, uint64_t session)
      : port_(std::move(port)), session_(session) {}
  ~SimDevice() override { Close(); }

  // Transfers without a completion record (null) run synchronously: they
  // return once the transfer ended, aborted by Purge or Close at the latest.
  IoStatus Read(void* buffer, uint32_t length, Completion* completion) override;
  IoStatus Write(const void* data, uint32_t length, Completion* completion) override;
  IoStatus Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                   Completion* completion) override;
  bool ClearCommError(uint32_t* errors, uint32_t* error) override;
  bool Purge(uint32_t flags) override;
  bool SetCommMask(uint32_t mask) override;
  void Close() override;

 private:
  const std::shared_ptr<SimPort> port_;
  const uint64_t session_;
};

}  // namespace quarnex

#endif  // QUARNEX_ADAPTER_SIM_PORT_H_
