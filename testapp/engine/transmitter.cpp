#include "testapp/engine/transmitter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/verdict.h"
#include "testapp/report/results_view.h"
#include "testapp/report/text_format.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

// Indices of the wait set: the completion first, so that it wins when both
// are signalled.
constexpr int kCompletionSignalled = 0;
constexpr int kExitSignalled = 1;

// How one main write ended.
struct ChunkWrite {
  int32_t result = kWriteNone;
  uint32_t count = 0;        // bytes written; 0 unless the write completed
  bool outstanding = false;  // went pending and was not seen to finish
};

IoStatus StartWrite(Device* device, const void* data, uint32_t length, Completion* record) {
  // ClosePort leaves no device: that write fails at once, as a write on a
  // closed handle does.
  if (device == nullptr) return IoStatus{kErrorInvalidHandle, 0};
  return device->Write(data, length, record);
}

// Queues NumberOverlap (at most kMaxOverlap) extra writes of `length` bytes
// copied from `source`, so that several writes are outstanding at once; none
// is waited for or examined. The ones still pending go to the port's orphan
// list, which keeps their buffers and records until the device finished with
// them. Returns false when a buffer could not be allocated: then no extra
// write was sent and the caller skips the delay.
bool QueueExtraWrites(PortContext& port, const uint8_t* source, uint32_t length) {
  const TesterOptions& options = port.Run->options;
  if (options.OverlapWrite.load() == 0) return true;
  const int32_t count = std::min(options.NumberOverlap.load(), kMaxOverlap);
  if (count <= 0) return true;

  std::vector<OrphanTransfer> extra;
  extra.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]);
    if (buffer == nullptr) return false;
    extra.push_back(OrphanTransfer{std::make_unique<Completion>(), std::move(buffer)});
  }
  for (OrphanTransfer& transfer : extra) std::memcpy(transfer.buffer.get(), source, length);
  for (OrphanTransfer& transfer : extra) {
    const IoStatus started =
        StartWrite(port.Device.load(), transfer.buffer.get(), length, transfer.record.get());
    if (started.pending()) port.Orphans.Add(std::move(transfer));
  }
  return true;
}

// The per-packet delay. It lies after the StartTime stamp, so it counts in
// the packet time. It waits on the run's exit event, so Stop (and with it
// the next Start and closing the window) never waits for a long Delay.
// Returns false when the run stopped during the delay: the packet is not
// sent any more.
bool DelayPacket(uint32_t delay_ms, const Event* exit_event) {
  if (delay_ms == 0) return true;
  if (exit_event == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    return true;
  }
  return WaitAny({exit_event}, static_cast<int64_t>(delay_ms)) != 0;
}

// Writes one chunk with the main record and decides its result, waiting for
// the completion or the end of the run. In Transmit only the write's end is
// the packet's end; in Loopback the receiver stamps it.
//
// `ends_blocked` says whether this thread ends a blocked write itself (see
// TransmitPacket).
ChunkWrite WriteChunk(PortContext& port, const uint8_t* position, uint32_t chunk,
                      Completion& record, const Event* exit_event, bool ends_blocked) {
  const bool transmit_only = port.Run->settings.Test.Mode == kTransmitOnly;
  Device* device = port.Device.load();
  port.WriteIssuedAt.store(MsClock());
  const IoStatus started = StartWrite(device, position, chunk, &record);
  if (started.done()) {
    if (transmit_only) port.EndTime.store(MsClock());
    return {started.count == chunk ? kWriteDoneImmediate : kWriteShort, started.count, false};
  }
  if (!started.pending()) {
    NoteDeviceError(port, started.error);
    return {kWriteRefused, 0, false};
  }

  const double timeout =
      ends_blocked ? BlockedTransferTimeoutMs(*port.Run) : std::numeric_limits<double>::infinity();
  // The thread that ends a blocked write is the one that judges it.
  int woken = WaitForTransfer(port, ends_blocked ? kTimeoutWrite : kTimeoutNone, record.event,
                              exit_event, port.WriteIssuedAt, timeout);
  if (woken == kWaitTimeout) {
    EndBlockedTransfer(port, kTimeoutWrite);
    woken = kCompletionSignalled;  // the purge has ended the write
  }
  switch (woken) {
    case kCompletionSignalled: {
      const IoStatus ended = device->Result(record);
      if (ended.error == kErrorIoIncomplete) return {kWriteIncomplete, 0, true};
      if (!ended.done()) {
        NoteDeviceError(port, ended.error);
        return {ended.error == kErrorOperationAborted ? kWriteCancelled : kWriteIncomplete, 0,
                false};
      }
      if (transmit_only) port.EndTime.store(MsClock());
      return {ended.count == chunk ? kWriteDoneDeferred : kWriteIncomplete, ended.count, false};
    }
    case kExitSignalled:
      return {kWriteStopped, 0, true};
    default:
      return {kWriteWaitFailed, 0, true};
  }
}

int32_t Transmit(PortContext& port, const uint8_t* data, uint32_t length, bool ends_blocked) {
  port.Orphans.Sweep();
  const EventRef exit_event = port.Run->run.ExitEvent;
  // On the heap: a write left pending hands its record to the orphan list.
  auto record = std::make_unique<Completion>(MakeEvent(Event::Kind::kManualReset));
  port.StartTime.store(MsClock());

  const TestSettings& test = port.Run->settings.Test;
  const bool file_mode = test.FileNameLength != 0;
  const uint8_t* source = data;
  if (file_mode) {
    // Every release sends the file from its first byte. The run controller
    // has lowered `length` to FileSize when the file is shorter.
    port.TxFileOffset = 0;
    source = port.Run->run.FileBuffer.get();
  }
  if (QueueExtraWrites(port, source, length) && !DelayPacket(test.Delay, exit_event.get())) {
    return kWriteStopped;  // as a write that was pending when the run stopped
  }

  const bool sends_whole_file = file_mode && test.Mode == kTransmitOnly;
  uint32_t chunk = length;
  const uint8_t* position = source;
  ChunkWrite last;
  for (;;) {
    last = WriteChunk(port, position, chunk, *record, exit_event.get(), ends_blocked);
    if (last.outstanding) {
      // The data (TxPattern or FileBuffer) lives until the next Start; the
      // record must live until the device is done with it.
      port.Orphans.Add(OrphanTransfer{std::move(record), nullptr});
      break;
    }
    if (!sends_whole_file || last.count != chunk) break;
    port.TxFileOffset += last.count;
    const uint32_t remaining =
        test.FileSize > port.TxFileOffset ? test.FileSize - port.TxFileOffset : 0;
    chunk = std::min(remaining, chunk);
    if (chunk == 0) break;  // the whole file is sent; the last chunk shows no progress
    // After Stop the rows show the stop's snapshot.
    if (port.Run->run.StopFlag.load() == 0) {
      port.Run->View().SetCell(port.Row, kColumnStatus,
                               FormatC("%d bytes transmitted", static_cast<int>(last.count)));
    }
    position += last.count;
    if (port.Run->run.PauseFlag.load() != 0) break;
  }
  return last.result;
}

void StoreResultOf(PortContext& port, bool ends_blocked) {
  // The releases seen before the write are the ones this result answers
  // (releases given meanwhile collapse into this one).
  const uint32_t released = port.WritesReleased.load();
  const uint32_t packet_size = static_cast<uint32_t>(port.Run->settings.PacketSize);
  port.LastWriteResult.store(
      Transmit(port, port.Run->run.TxPattern.data(), packet_size, ends_blocked));
  port.WritesStored.store(released);
}

}  // namespace

int32_t TransmitPacket(PortContext& port, const uint8_t* data, uint32_t length) {
  return Transmit(port, data, length, port.Run->settings.Test.Mode == kTransmitOnly);
}

void SendReleasedPacket(PortContext& port) {
  StoreResultOf(port, port.Run->settings.Test.Mode == kTransmitOnly);
}

void SendLoopbackPacket(PortContext& port) {
  CountRelease(port);
  StoreResultOf(port, /*ends_blocked=*/true);
}

}  // namespace quarnex
