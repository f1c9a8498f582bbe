// The per-port run-time records and the run-wide state shared by all worker
// threads of a run.
//
// Thread-safety: fields that several threads touch are atomics (noted per
// field); the rest are written by one thread at a time, as noted. The table
// is one static array that lives as long as the program.
#ifndef QUARNEX_ENGINE_PORT_TABLE_H_
#define QUARNEX_ENGINE_PORT_TABLE_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "testapp/driver/device.h"
#include "testapp/platform/event.h"
#include "testapp/settings/records.h"

namespace quarnex {

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
  uint32_t FileOffset = 0;  // the transmitter's or receiver's thread
  std::atomic<int32_t> PacketOk{0};
  int32_t Row = -1;  // set at Start before the threads exist
  // The rate the device reported for its line once the block was sent; 0
  // when it cannot tell. Set at Start, read on the same thread.
  uint32_t LineBitRate = 0;

  // Counters: one writer thread each (the one that calls PacketStep);
  // atomics so the log and the viewer read them race-free.
  std::atomic<int32_t> PacketCount{0};
  std::atomic<int32_t> GoodPacketCount{0};
  std::atomic<int32_t> ErrorCount{0};
  std::atomic<int32_t> WriteFailedCount{0};
  std::atomic<int32_t> WriteAbortedCount{0};
  std::atomic<int32_t> ReadFailedCount{0};
  std::atomic<int32_t> ReadAbortedCount{0};
  std::atomic<int32_t> LengthMismatchCount{0};
  std::atomic<int32_t> DataMismatchCount{0};

  // PacketSize bytes, allocated by the reader thread when it starts and
  // published here; freed when the slot is re-initialised (after its threads
  // ended) or at exit. ReceiveBufferSize is its size in bytes.
  std::atomic<uint8_t*> ReceiveBuffer{nullptr};
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
  std::atomic<double> LastPacketTime{0.0};
  std::atomic<double> TotalPacketTime{0.0};
  std::atomic<double> MaxPacketTime{0.0};

  OrphanList Orphans;
};

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
  // The generated packet: byte i = 'A' + ((i mod 256) mod 26).
  std::array<uint8_t, kMaxPacketSize> TxPattern{};
  // File mode: the whole transmit/compare file (FileSize bytes).
  std::unique_ptr<uint8_t[]> FileBuffer;
  // Ideal on-wire time of one packet, ms; rewritten while earlier ports run.
  std::atomic<double> ExpectedPacketTime{0.0};
};

// The one instance.
RunState& Run();

// The number of slots a run uses: the settings' PortCount, kept inside the
// table (a stored count may lie outside it).
int SlotsInRange();

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_PORT_TABLE_H_
