// The per-port run-time records and the run-wide state shared by all worker
// threads of a run.
//
// Thread-safety: fields that several threads touch are atomics (noted per
// field); the rest are written by one thread at a time, as noted. The table
// lives in a run context (run_context.h) as long as the context does.
#ifndef QUARNEX_ENGINE_PORT_TABLE_H_
#define QUARNEX_ENGINE_PORT_TABLE_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testapp/driver/device.h"
#include "testapp/platform/event.h"
#include "testapp/report/port_counters.h"
#include "testapp/settings/records.h"

namespace quarnex {

class RunContext;

// A transfer the engine did not wait for (extra reads and writes, a write
// left pending at Stop). Its record and buffer stay here until the device
// has finished with them.
struct OrphanTransfer {
  std::unique_ptr<Completion> record;
  std::unique_ptr<uint8_t[]> buffer;  // null when the data lives elsewhere
};

// Per-port list of orphan transfers. Any thread of the port adds to it;
// Sweep drops the finished ones; Clear (after the device is closed, so every
// one of them has been aborted) drops all.
class OrphanList {
 public:
  void Add(OrphanTransfer transfer);
  void Sweep();
  void Clear();
  size_t Size() const;

 private:
  mutable std::mutex mu_;
  std::vector<OrphanTransfer> items_;  // guarded by mu_
};

struct PortContext {
  // The run context whose table holds this slot (or that a test lent a port
  // of its own): the settings, block, options, flags and outputs the port's
  // threads use. Set once, before any thread of the port exists, and never
  // changed while one does.
  RunContext* Run = nullptr;

  // 1 while the device is open in this run. Start writes it; ClosePort
  // clears it with one atomic exchange, so the device is closed once.
  std::atomic<int32_t> InUse{0};
  // The open device, null when closed or never opened. Written by Start
  // (before the slot's threads exist) and ClosePort; read by all threads.
  std::atomic<quarnex::Device*> Device{nullptr};
  // Owns the device object; touched only on the user-interface thread
  // while none of the slot's threads is alive.
  DeviceRef DeviceOwner;

  // Thread objects; started by StartPortThreads, joined before the slot is
  // re-initialised and at program exit. Touched only on the UI thread.
  std::thread WriterThread;
  std::thread ReaderThread;
  std::thread IoctlThread;

  // Auto reset; one signal releases the writer for one packet. Created at
  // Start (not in Receive only), kept until the next Start.
  EventRef WriteEvent;

  std::atomic<int32_t> LastWriteResult{0};
  std::atomic<int32_t> LastReadResult{0};
  std::atomic<uint32_t> LastReadLength{0};
  std::atomic<uint32_t> LastNonEmptyReadLength{0};
  // File mode: how far the receiver (FileOffset) and the transmitter
  // (TxFileOffset) got in the file. One field each, so each has one writer
  // even in Loopback, where both run.
  uint32_t FileOffset = 0;    // the reader thread
  uint32_t TxFileOffset = 0;  // the thread that sends (TransmitPacket)

  // The Loopback hand-off. ReleaseWriter counts a release in WritesReleased;
  // the writer, once it stored LastWriteResult for the releases it saw,
  // copies that count to WritesStored and signals WriteStoredEvent (auto
  // reset, created at Start in Loopback). A reader that sends its packet
  // itself counts and stores the same way, without the signal. The reader judges a packet only
  // when WritesStored has caught up, so no packet goes unjudged because its
  // write result came late.
  std::atomic<uint32_t> WritesReleased{0};
  std::atomic<uint32_t> WritesStored{0};
  EventRef WriteStoredEvent;
  // When the current packet's main write was issued, ms (0: not yet). The
  // transmitter sets it right before the write (after the Delay, so a long
  // Delay is never a timeout); ReleaseWriter and the Loopback reader clear
  // it. In Loopback the reader's blocked-transfer clock starts here.
  std::atomic<double> WriteIssuedAt{0.0};
  // 1 once a read of this run delivered data: in Receive only a line that
  // never sent anything is not timed out, only one that went quiet.
  std::atomic<int32_t> ReceivedAny{0};
  // A transfer of the current packet was ended by the blocked-transfer
  // timeout: kTimeoutRead or kTimeoutWrite (timeout.h), set by the thread
  // that purged and taken by the judging thread, which counts it and keeps
  // it in LastTimeout for the row.
  std::atomic<int32_t> PendingTimeout{0};
  std::atomic<int32_t> LastTimeout{0};
  // The transfer of the current packet that the judging thread waits for
  // (AwaitScope in transfer_wait.h): what a snapshot judges at the end of
  // a run and watches for stalls. Guarded by AwaitMutex; written by the
  // judging thread around each wait, read by snapshots on any thread.
  mutable std::mutex AwaitMutex;
  int32_t AwaitedKind = 0;  // a TimeoutKind; kTimeoutNone while none
  // When the transfer's clock started; it holds 0 while the clock has not
  // started (a Loopback read before its write was issued, a paused port).
  // The atomic outlives the registration.
  const std::atomic<double>* AwaitedClock = nullptr;
  EventRef AwaitedEvent;  // signalled once the transfer completed
  // The longest a transfer of this run stayed outstanding past the stall
  // limit, ms of watched time (0: none did). The judging thread raises it
  // when such a wait ends; snapshots read it.
  std::atomic<double> LongestStallMs{0.0};
  // 1 once a transfer reported the device gone (kErrorDeviceNotConnected):
  // the port counts one error, shows "Port lost" and its threads end.
  std::atomic<int32_t> Lost{0};
  std::atomic<int32_t> PacketOk{0};
  // The PacketStatus of the last packet counted, with its read length for
  // a length mismatch (PackPacketStatus). The judging thread stores it with
  // release once the packet's counters are counted; a snapshot loads it
  // with acquire before the counters, so they always hold the status it
  // shows.
  std::atomic<uint64_t> LastStatus{0};
  // Set at Start before the threads exist; -1 for a slot that got no row
  // (none before Start, or a Start that ended early).
  int32_t Row = -1;
  // Set at Start when the port could not be opened: what was tried and why
  // it failed (PortCounters). Written and read on the user-interface thread
  // only; the slot has no threads.
  bool NotOpened = false;
  std::string OpenPath;
  std::string OpenReason;
  // The rate the device reported for its line once the block was sent; 0
  // when it cannot tell. Set at Start, read on the same thread.
  uint32_t LineBitRate = 0;
  // The start and stop bits each character carries on an asynchronous
  // line, in halves of a bit (kIoctlGetLineFraming); 0 on a synchronous
  // line, whose characters follow each other without framing. Set at Start
  // like LineBitRate.
  uint32_t LineFramingHalfBits = 0;

  // Counters: one writer thread each (the one that calls PacketStep);
  // atomics so the log and the viewer read them race-free. 64-bit: a port
  // that fails a million times a second must not wrap within a run.
  std::atomic<int64_t> PacketCount{0};
  std::atomic<int64_t> GoodPacketCount{0};
  std::atomic<int64_t> ErrorCount{0};
  std::atomic<int64_t> WriteFailedCount{0};
  std::atomic<int64_t> WriteAbortedCount{0};
  std::atomic<int64_t> ReadFailedCount{0};
  std::atomic<int64_t> ReadAbortedCount{0};
  std::atomic<int64_t> LengthMismatchCount{0};
  std::atomic<int64_t> DataMismatchCount{0};
  // Of the failed reads and writes, those the blocked-transfer timeout
  // ended (not in the log: its lines keep their format).
  std::atomic<int64_t> ReadTimeoutCount{0};
  std::atomic<int64_t> WriteTimeoutCount{0};
  // Line errors the device reported since Start, by LineErrorKind
  // (port_counters.h); counted by the reader thread where it reports the
  // line status.
  std::array<std::atomic<int64_t>, kLineErrorKindCount> LineErrorCount{};
  // The first mismatch since Start (FirstMismatch in port_counters.h),
  // written once by the judging thread: packet and offset first, the kind
  // (a MismatchKind) last, so a reader that sees the kind sees the rest.
  std::atomic<int32_t> FirstMismatchKind{0};
  std::atomic<int64_t> FirstMismatchPacket{0};
  std::atomic<int64_t> FirstMismatchOffset{0};
  // Its bytes: written before the kind by the same thread and never again
  // until the next Start, so whoever sees the kind may read them.
  MismatchExcerpt FirstMismatchExcerpt;

  // PacketSize bytes, allocated by the reader thread when it starts and
  // published here; ReceiveBufferOwner holds them until the slot is
  // re-initialised (after its threads ended) or the program exits.
  // ReceiveBufferSize is its size in bytes.
  std::atomic<uint8_t*> ReceiveBuffer{nullptr};
  std::unique_ptr<uint8_t[]> ReceiveBufferOwner;  // the reader thread, then ReleaseSlot
  std::atomic<uint32_t> ReceiveBufferSize{0};
  // The device writes into ReceiveBuffer while a read is outstanding, so
  // the received-data viewer never reads it directly: after each main read
  // that delivered data the receiver copies those bytes into LastData under
  // ReceiveMutex, and the viewer takes its snapshot under the same lock.
  std::mutex ReceiveMutex;
  std::vector<uint8_t> LastData;  // guarded by ReceiveMutex

  std::atomic<double> StartTime{0.0};
  std::atomic<double> EndTime{0.0};
  std::atomic<double> LastUpdateTime{0.0};
  // MsClock of the last row refresh: a port that counts packets without
  // stamping their end (failed transfers) is still refreshed. The judging
  // thread only.
  double LastRefreshAt = 0.0;
  // The PacketCount the last row refresh showed, -1 before any. The judging
  // thread only.
  int64_t ShownPacketCount = -1;
  std::atomic<double> LastPacketTime{0.0};
  std::atomic<double> TotalPacketTime{0.0};
  std::atomic<double> MaxPacketTime{0.0};

  OrphanList Orphans;
};

// The live counters behind kPacketCounterFields (port_counters.h), in its
// order: what Start resets and a snapshot copies.
inline constexpr std::atomic<int64_t> PortContext::*kLivePacketCounters[] = {
    &PortContext::PacketCount,       &PortContext::GoodPacketCount,
    &PortContext::ErrorCount,        &PortContext::WriteFailedCount,
    &PortContext::WriteAbortedCount, &PortContext::ReadFailedCount,
    &PortContext::ReadAbortedCount,  &PortContext::LengthMismatchCount,
    &PortContext::DataMismatchCount,
};
static_assert(std::size(kLivePacketCounters) == kPacketCounterCount);

// PortContext::LastStatus as one word: the status and its read length.
inline uint64_t PackPacketStatus(PacketStatus status, uint32_t length) {
  return static_cast<uint64_t>(static_cast<uint32_t>(status)) | (uint64_t{length} << 32);
}
inline PacketStatus PackedStatusOf(uint64_t packed) {
  return static_cast<PacketStatus>(static_cast<int32_t>(packed & 0xFFFFFFFFu));
}
inline uint32_t PackedLengthOf(uint64_t packed) { return static_cast<uint32_t>(packed >> 32); }

using PortTable = std::array<PortContext, kMaxPorts>;

// Run-wide state. Written on the user-interface thread at Start (before the
// threads that read it exist) unless noted.
struct RunState {
  PortTable Ports;
  // Manual reset; created at every Start, signalled once by Stop. Threads
  // copy the reference when they start.
  EventRef ExitEvent;
  std::atomic<int32_t> StopFlag{0};
  std::atomic<int32_t> PauseFlag{0};
  // Set by the headless runner before Start (--stop-on-error), kept across
  // runs: the first packet judged bad sets PauseFlag, so no port sends
  // another packet (beyond one already released) while the runner comes to
  // stop it.
  std::atomic<int32_t> PauseOnError{0};
  // The generated packet: the letters pattern from its start
  // (testapp/pattern/packet_pattern.h).
  std::array<uint8_t, kMaxPacketSize> TxPattern{};
  // File mode: the whole transmit/compare file (FileSize bytes).
  std::unique_ptr<uint8_t[]> FileBuffer;
  // Ideal on-wire time of one packet, ms; rewritten while earlier ports run.
  std::atomic<double> ExpectedPacketTime{0.0};
  // The tester's own hold-ups (a stopped process, a starved machine): a
  // wait that woke far past its deadline stores when it woke, and how late
  // it was if that is the longest of the run (NoteWake in
  // transfer_wait.h). Any thread; reset at Start.
  std::atomic<double> HeldUpUntil{0.0};
  std::atomic<double> HeldUpMaxMs{0.0};
  // Notes the hold-ups while a run goes (hold_up_watch.h); started at the
  // end of a successful Start, joined with the ports' threads. Touched only
  // on the user-interface thread.
  std::thread HoldUpWatcher;
  // MsClock of the watch thread's last look; 0 while none watches.
  std::atomic<double> HoldUpLookAt{0.0};
};

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_PORT_TABLE_H_
