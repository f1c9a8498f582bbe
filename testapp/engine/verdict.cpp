#include "testapp/engine/verdict.h"

#include <algorithm>
#include <cstdint>

#include "testapp/engine/first_mismatch.h"
#include "testapp/engine/receiver.h"
#include "testapp/engine/row_update.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/transmitter.h"
#include "testapp/pattern/payload_compare.h"
#include "testapp/platform/clock.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

// Adds `amount` to a counter that only this thread writes; the atomic lets
// the log and the viewer read it without a lock.
void Count(std::atomic<int64_t>& counter, int64_t amount = 1) {
  counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

void Accumulate(std::atomic<double>& total, double amount) {
  total.store(total.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

// True when the first PacketSize received bytes equal the transmitted
// pattern. A receive buffer smaller than the packet cannot hold it, so it
// counts as differing.
bool ReceivedPatternMatches(const PortContext& port) {
  const int32_t packet_size = port.Run->settings.PacketSize;
  const uint8_t* received = port.ReceiveBuffer.load();
  if (packet_size < 0 || packet_size > kMaxPacketSize) return false;
  if (received == nullptr || port.ReceiveBufferSize.load() < static_cast<uint32_t>(packet_size)) {
    return false;
  }
  return ComparePayload(port.Run->run.TxPattern.data(), received, static_cast<size_t>(packet_size))
      .equal();
}

// Keeps where a full read first differed from the pattern. A full read
// judged bad for another reason (its port was lost) differs nowhere and
// is not kept.
void NoteDataMismatch(PortContext& port) {
  const int32_t packet_size = port.Run->settings.PacketSize;
  const uint8_t* received = port.ReceiveBuffer.load();
  if (received == nullptr || packet_size <= 0 || packet_size > kMaxPacketSize) return;
  const size_t compared = std::min(static_cast<size_t>(packet_size),
                                   static_cast<size_t>(port.ReceiveBufferSize.load()));
  const size_t offset =
      ComparePayload(port.Run->run.TxPattern.data(), received, compared).first_difference;
  if (offset == static_cast<size_t>(packet_size)) return;
  NoteFirstMismatch(
      port, MismatchKind::kData, port.PacketCount.load(), static_cast<int64_t>(offset),
      MakeMismatchExcerpt(static_cast<int64_t>(offset), 0, port.Run->run.TxPattern.data(),
                          static_cast<size_t>(packet_size), received, compared));
}

// Keeps where a read came back short: the bytes before the cut as
// received, beside the pattern where Loopback knows what was sent.
void NoteLengthMismatch(PortContext& port) {
  const int64_t length = port.LastReadLength.load();
  const int32_t packet_size = port.Run->settings.PacketSize;
  const uint8_t* received = port.ReceiveBuffer.load();
  const size_t received_size = received == nullptr
                                   ? 0
                                   : std::min(static_cast<size_t>(std::max<int64_t>(length, 0)),
                                              static_cast<size_t>(port.ReceiveBufferSize.load()));
  const bool pattern_known =
      port.Run->settings.Test.Mode == kLoopback && packet_size > 0 && packet_size <= kMaxPacketSize;
  NoteFirstMismatch(
      port, MismatchKind::kLength, port.PacketCount.load(), length,
      MakeMismatchExcerpt(length, 0, pattern_known ? port.Run->run.TxPattern.data() : nullptr,
                          pattern_known ? static_cast<size_t>(packet_size) : 0, received,
                          received_size));
}

bool PacketIsBad(const PortContext& port, int32_t mode) {
  const bool read_full = ReadIsFull(port.LastReadResult.load());
  const bool write_full = WriteIsFull(port.LastWriteResult.load());
  // Only Loopback knows what the bytes should be; Receive only compared a
  // file, if any, in the receiver.
  if (read_full && mode == kLoopback && !ReceivedPatternMatches(port)) return true;
  if (!read_full && mode != kTransmitOnly) return true;
  if (mode == kTransmitOnly && !write_full) return true;
  return false;
}

// Counts a good packet and, when its end was stamped after its start, its
// time. A packet whose end was not stamped still shows the previous end,
// which lies before its own start, so it is not timed.
void CountGoodPacket(PortContext& port) {
  port.PacketOk.store(1);
  Count(port.GoodPacketCount);
  const double start = port.StartTime.load();
  const double end = port.EndTime.load();
  if (!(end > start)) return;
  const double packet_time = end - start;
  port.LastPacketTime.store(packet_time);
  Accumulate(port.TotalPacketTime, packet_time);
  if (packet_time > port.MaxPacketTime.load()) port.MaxPacketTime.store(packet_time);
}

// Publishes the status of the packet just counted. Release: whoever loads
// it with acquire (RowCounters, SnapshotPort) reads counters that already
// hold this packet, so no cell shows a status its counters do not have.
// The read length is the packet's own: the next read is not posted yet.
void StoreStatus(PortContext& port, PacketStatus status) {
  const uint32_t length =
      status == PacketStatus::kLengthMismatch ? port.LastReadLength.load() : uint32_t{0};
  port.LastStatus.store(PackPacketStatus(status, length), std::memory_order_release);
}

}  // namespace

double MsClock() { return SteadyMilliseconds(); }

void PacketStep(PortContext& port) {
  if (port.InUse.load() == 0) return;
  const bool judged = JudgePacket(port) != 0;
  if (port.Run->run.StopFlag.load() != 0) return;
  // A judged packet whose end lies more than the interval after the last
  // refreshed one refreshes the row. So does any packet once the interval
  // has passed on the clock: packets whose transfers failed stamp no end,
  // and their row must still follow the counters. A lost port shows it at
  // once.
  const double end = port.EndTime.load();
  const double interval = static_cast<double>(port.Run->settings.Test.UpdateInterval);
  const bool end_moved_on = judged && end - port.LastUpdateTime.load() > interval;
  const double now = MsClock();
  if (!end_moved_on && !(now - port.LastRefreshAt > interval) && port.Lost.load() == 0) return;
  if (end_moved_on) port.LastUpdateTime.store(end);
  port.LastRefreshAt = now;
  UpdateRow(port);
}

int JudgePacket(PortContext& port) {
  const int32_t mode = port.Run->settings.Test.Mode;
  Count(port.PacketCount);
  // A timeout belongs to this packet whatever its verdict; it only counts
  // when the packet failed (the transfer may have completed just in time).
  const int32_t timeout = port.PendingTimeout.exchange(kTimeoutNone);
  // The other side of the packet has not stored its result yet: the attempt
  // is counted, nothing else. A port whose device is gone waits for nobody:
  // its last packet failed, whatever the other side would have said.
  const bool lost = port.Lost.load() != 0;
  if (!lost && port.LastWriteResult.load() == kWriteNone && mode != kReceiveOnly) return 0;
  if (!lost && port.LastReadResult.load() == kReadNone && mode != kTransmitOnly) return 0;
  if (!lost && !PacketIsBad(port, mode)) {
    port.LastTimeout.store(kTimeoutNone);
    CountGoodPacket(port);
    StoreStatus(port, PacketStatus::kSuccess);
    return 1;
  }
  port.PacketOk.store(0);
  // The flag alone: no writer is released after it. (PauseRun would also
  // withdraw releases, but it walks slots that Start may still be setting
  // up; a release already given is one packet in flight.)
  if (port.Run->run.PauseOnError.load() != 0) port.Run->run.PauseFlag.store(1);
  port.LastTimeout.store(timeout);
  if (timeout == kTimeoutRead) Count(port.ReadTimeoutCount);
  if (timeout == kTimeoutWrite) Count(port.WriteTimeoutCount);
  const PacketStatus cause = ClassifyError(port);
  StoreStatus(port, timeout == kTimeoutRead    ? PacketStatus::kReadTimeout
                    : timeout == kTimeoutWrite ? PacketStatus::kWriteTimeout
                                               : cause);
  PurgePort(port);
  return 1;
}

PacketStatus ClassifyError(PortContext& port) {
  Count(port.ErrorCount);
  const int32_t read_result = port.LastReadResult.load();
  if (port.Run->settings.Test.Mode == kReceiveOnly || WriteIsFull(port.LastWriteResult.load())) {
    if (read_result == kReadLengthMismatch) {
      Count(port.LengthMismatchCount);
      NoteLengthMismatch(port);
      return PacketStatus::kLengthMismatch;
    }
    if (ReadIsFull(read_result)) {
      Count(port.DataMismatchCount);
      NoteDataMismatch(port);
      return PacketStatus::kDataMismatch;
    }
    Count(port.ReadFailedCount);
    return PacketStatus::kReadFailed;
  }
  Count(port.WriteFailedCount);
  return PacketStatus::kWriteFailed;
}

void PurgePort(PortContext& port) {
  // Also ends the other worker's transfer and every extra transfer still
  // outstanding; they complete as aborted. The purge's own result does not
  // matter.
  Device* device = port.Device.load();
  if (device != nullptr) device->Purge(kPurgeAll);
}

}  // namespace quarnex
