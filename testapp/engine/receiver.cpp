#include "testapp/engine/receiver.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "testapp/engine/first_mismatch.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/transmitter.h"
#include "testapp/engine/verdict.h"
#include "testapp/pattern/payload_compare.h"
#include "testapp/platform/regular_file.h"
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

constexpr char kReceivedDumpName[] = "yy.txt";
constexpr char kExpectedDumpName[] = "zz.txt";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// How one main read ended.
struct ChunkRead {
  int32_t result = kReadNone;
  uint32_t count = 0;        // bytes delivered; 0 unless the read completed
  bool outstanding = false;  // went pending and was not seen to finish
};

IoStatus StartRead(Device* device, void* buffer, uint32_t length, Completion* record) {
  // ClosePort leaves no device: that read fails at once, as a read on a
  // closed handle does.
  if (device == nullptr) return IoStatus{kErrorInvalidHandle, 0};
  return device->Read(buffer, length, record);
}

// Posts NumberOverlap (at most kMaxOverlap) extra reads of `length` bytes
// ahead of the main read, each with its own record and buffer. They take the
// first frames that arrive and are never examined. The ones still pending go
// to the port's orphan list, which keeps them until the device finished with
// them; they may stay outstanding into later calls.
void PostExtraReads(PortContext& port, uint32_t length) {
  const TesterOptions& options = port.Run->options;
  if (options.OverlapRead.load() == 0) return;
  const int32_t count = std::min(options.NumberOverlap.load(), kMaxOverlap);
  for (int32_t i = 0; i < count; ++i) {
    OrphanTransfer transfer{std::make_unique<Completion>(),
                            std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[length])};
    if (transfer.buffer == nullptr) continue;  // this one gets no read
    const IoStatus started =
        StartRead(port.Device.load(), transfer.buffer.get(), length, transfer.record.get());
    if (started.pending()) port.Orphans.Add(std::move(transfer));
  }
}

// Reads one chunk with the main record and decides its result. A pending
// read first sends the packet (Loopback, not paused): it may only go out
// once the read is there to take it.
//
// A read that blocks is ended by the timeout: in Loopback its clock starts
// when the packet's write was issued (a paused port waits as long as it
// takes); in Receive only when the read was posted, once the line has sent
// anything at all.
ChunkRead ReadChunk(PortContext& port, uint8_t* buffer, uint32_t chunk, Completion& record,
                    const Event* exit_event) {
  const int32_t mode = port.Run->settings.Test.Mode;
  Device* device = port.Device.load();
  std::atomic<double> posted_at{port.ReceivedAny.load() != 0 ? MsClock() : 0.0};
  const IoStatus started = StartRead(device, buffer, chunk, &record);
  if (started.done()) {
    port.EndTime.store(MsClock());
    return {started.count == chunk ? kReadDoneImmediate : kReadShort, started.count, false};
  }
  if (!started.pending()) {
    NoteDeviceError(port, started.error);
    return {kReadRefused, 0, false};
  }

  if (port.Run->run.PauseFlag.load() == 0 && mode == kLoopback) SendLoopbackPacket(port);
  const std::atomic<double>& armed_at = mode == kLoopback ? port.WriteIssuedAt : posted_at;
  int signalled = WaitForTransfer(port, kTimeoutRead, record.event, exit_event, armed_at,
                                  BlockedTransferTimeoutMs(*port.Run));
  if (signalled == kWaitTimeout) {
    // In Loopback the write may be what blocks (nothing was sent): say so.
    const bool write_blocked =
        mode == kLoopback && WriteResultMissing(port, port.WritesReleased.load());
    EndBlockedTransfer(port, write_blocked ? kTimeoutWrite : kTimeoutRead);
    signalled = kCompletionSignalled;  // the purge has ended the read
  }
  if (signalled != kCompletionSignalled && signalled != kExitSignalled) {
    return {kReadWaitFailed, 0, true};
  }
  // Asked after a stop too: a read that completed just in time still counts.
  const IoStatus ended = device->Result(record);
  if (!ended.done()) {
    NoteDeviceError(port, ended.error);
    const int32_t result = ended.error == kErrorOperationAborted ? kReadCancelled : kReadError;
    return {result, 0, ended.error == kErrorIoIncomplete};
  }
  // After a stop the end is not stamped: the packet was not waited for.
  if (signalled == kCompletionSignalled) port.EndTime.store(MsClock());
  return {ended.count == chunk ? kReadDoneDeferred : kReadLengthMismatch, ended.count, false};
}

// The file's bytes from `offset` on, at most `length` of them.
size_t FileBytesFrom(const PortContext& port, uint32_t offset, uint32_t length) {
  const uint32_t file_size =
      port.Run->run.FileBuffer == nullptr ? 0 : port.Run->settings.Test.FileSize;
  return offset >= file_size ? 0 : std::min(file_size - offset, length);
}

// True when the chunk arrived whole and equals the file at FileOffset.
bool ChunkMatchesFile(const PortContext& port, const uint8_t* received, uint32_t chunk,
                      const ChunkRead& read) {
  if (read.count != chunk) return false;
  if (chunk == 0) return true;  // a refused read: nothing to compare
  if (FileBytesFrom(port, port.FileOffset, chunk) != chunk) return false;
  return ComparePayload(port.Run->run.FileBuffer.get() + port.FileOffset, received, chunk).equal();
}

// Keeps both versions of a full-length chunk that differed from the file.
void DumpDifferingChunk(const PortContext& port, const uint8_t* received, uint32_t chunk) {
  WriteDumpFile(kReceivedDumpName, received, chunk);
  WriteDumpFile(kExpectedDumpName, port.Run->run.FileBuffer.get() + port.FileOffset,
                FileBytesFrom(port, port.FileOffset, chunk));
}

// Keeps where a full chunk first differed from the file, as an offset in
// the file: in file mode one judged packet is the whole file. The packet
// is judged right after this read, as PacketCount + 1.
void NoteFileMismatch(PortContext& port, const uint8_t* received, uint32_t chunk) {
  const size_t compared = FileBytesFrom(port, port.FileOffset, chunk);
  const size_t differs =
      compared == 0
          ? 0
          : ComparePayload(port.Run->run.FileBuffer.get() + port.FileOffset, received, compared)
                .first_difference;
  const auto base = static_cast<int64_t>(port.FileOffset);
  const int64_t offset = base + static_cast<int64_t>(differs);
  NoteFirstMismatch(
      port, MismatchKind::kData, port.PacketCount.load() + 1, offset,
      MakeMismatchExcerpt(offset, base, port.Run->run.FileBuffer.get() + port.FileOffset, compared,
                          received, chunk));
}

// Records the length of the last main read and, when it delivered data,
// publishes a copy for the received-data viewer: the device may write the
// receive buffer again at any time, so the viewer reads only this copy.
void RecordLastRead(PortContext& port, const uint8_t* buffer, uint32_t count) {
  port.LastReadLength.store(count);
  if (count == 0) return;
  port.ReceivedAny.store(1);
  std::lock_guard<std::mutex> lock(port.ReceiveMutex);
  port.LastData.assign(buffer, buffer + count);
  port.LastNonEmptyReadLength.store(count);
}

}  // namespace

int32_t ReceivePacket(PortContext& port, uint8_t* buffer, uint32_t length) {
  port.Orphans.Sweep();
  const EventRef exit_event = port.Run->run.ExitEvent;
  // On the heap: a read left pending hands its record to the orphan list.
  auto record = std::make_unique<Completion>(MakeEvent(Event::Kind::kManualReset));
  const TestSettings& test = port.Run->settings.Test;
  port.FileOffset = 0;
  // A write issued for an earlier packet does not start this read's clock.
  if (test.Mode == kLoopback) port.WriteIssuedAt.store(0.0);
  PostExtraReads(port, length);

  const bool file_mode = test.FileNameLength != 0;
  uint32_t chunk = length;
  ChunkRead last;
  for (;;) {
    last = ReadChunk(port, buffer, chunk, *record, exit_event.get());
    if (last.result == kReadRefused) chunk = 0;
    if (last.outstanding) {
      // The buffer is the port's ReceiveBuffer, which outlives the port's
      // device; the record must live until the device is done with it.
      port.Orphans.Add(OrphanTransfer{std::move(record), nullptr});
      break;
    }
    if (!file_mode) break;

    if (ChunkMatchesFile(port, buffer, chunk, last)) {
      const uint32_t next = std::min(test.FileSize - port.FileOffset - chunk, chunk);
      port.FileOffset += last.count;
      if (next == 0) break;  // the whole file arrived; the last chunk shows no progress
      if (!ReadIsFull(last.result)) break;
      // After Stop the rows show the stop's snapshot.
      if (port.Run->run.StopFlag.load() == 0) {
        port.Run->View().SetCell(port.Row, kColumnStatus,
                                 FormatC("%d bytes received", static_cast<int>(port.FileOffset)));
      }
      chunk = next;
      continue;
    }
    if (ReadIsFull(last.result)) {
      NoteFileMismatch(port, buffer, chunk);
      DumpDifferingChunk(port, buffer, chunk);
      chunk = 0;
      last.result = kReadError;
    }
    port.FileOffset += last.count;
    break;
  }
  RecordLastRead(port, buffer, last.count);
  return last.result;
}

int WriteDumpFile(const char* file_name, const uint8_t* data, size_t size) {
  // Truncated first, so the file holds exactly this dump and nothing of an
  // earlier, longer one.
  // Without blocking: a FIFO in its place must not hold the worker.
  std::unique_ptr<std::FILE, FileCloser> file(OpenFileForWriting(file_name, /*append=*/false));
  if (file == nullptr) return 0;
  if (size > 0 && std::fwrite(data, 1, size, file.get()) != size) return 0;
  return std::fflush(file.get()) == 0 ? 1 : 0;
}

}  // namespace quarnex
