// The writer and reader thread bodies and the pacing between them.
//
// Loopback: the reader posts a read, sends the packet itself once the read
// is pending, and judges it with the write's result; the writer sends the
// packets released from elsewhere (Continue after a pause), and the reader
// then judges once the writer stored its result. Receive only: the reader
// reads back to back. Transmit only: the writer judges its own packets and
// re-arms itself. Neither loop polls or sleeps; every wait includes the run's ExitEvent, which each
// thread holds from its start.
#include "testapp/engine/worker_loops.h"

#include <memory>
#include <new>

#include "testapp/engine/line_status.h"
#include "testapp/engine/receiver.h"
#include "testapp/engine/row_update.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/engine/transmitter.h"
#include "testapp/engine/verdict.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

bool ReachedPauseAfter(const PortContext& port) {
  const int32_t pause_after = port.Run->settings.Test.PauseAfter;
  return pause_after > 0 && port.PacketCount.load() >= pause_after;
}

// Transmit only: whether the writer sends the next packet by itself.
bool ShouldRearm(const PortContext& port) {
  const RunState& run = port.Run->run;
  return run.PauseFlag.load() == 0 && run.StopFlag.load() == 0 && !ReachedPauseAfter(port);
}

// A port that reached Pause After sends no more: its row shows the counts
// it ended with, which the throttled refreshes may not have shown yet.
// After Stop the window shows the stop record's counts instead.
void ShowEndedRow(PortContext& port) {
  if (port.Run->run.StopFlag.load() != 0) return;
  if (port.ShownPacketCount != port.PacketCount.load()) UpdateRow(port);
}

}  // namespace

int WriterLoop(PortContext& port) {
  RunState& run = port.Run->run;
  // Copies keep both events alive for the whole thread, whatever the
  // controller does with its own references.
  const EventRef exit_event = run.ExitEvent;
  const EventRef write_event = port.WriteEvent;
  const int32_t mode = port.Run->settings.Test.Mode;

  bool last_cycle = false;
  while (!last_cycle) {
    const int woken = WaitAny({write_event.get(), exit_event.get()}, kInfinite);
    if (run.StopFlag.load() != 0) break;
    if (woken == 0) {
      // Stored only once the write has finished: the reader's verdict reads
      // it, and ReleaseWriter cleared it before the signal.
      SendReleasedPacket(port);
      if (port.WriteStoredEvent) port.WriteStoredEvent->Set();
    } else if (woken == 1) {
      last_cycle = true;
    }
    if (mode == kTransmitOnly) {
      PacketStep(port);
      // A device that is gone ends the port after its one error.
      if (port.Lost.load() != 0) break;
      if (ShouldRearm(port)) {
        ReleaseWriter(port);
      } else if (ReachedPauseAfter(port)) {
        ShowEndedRow(port);
      }
    }
  }
  // The WriteEvent itself is kept by the slot until its next Start, since
  // the reader and the controller may still signal it.
  if (mode == kTransmitOnly) ClosePort(port);
  return 1;
}

int ReaderLoop(PortContext& port) {
  RunState& run = port.Run->run;
  // Held so the receiver's waits never meet a released event.
  const EventRef exit_event = run.ExitEvent;
  const uint32_t packet_size = static_cast<uint32_t>(port.Run->settings.PacketSize);
  const int32_t pause_after = port.Run->settings.Test.PauseAfter;
  const bool loopback = port.Run->settings.Test.Mode == kLoopback;

  // Once per thread, not per packet. The slot keeps it after the thread
  // ended (the viewer's length refers to it) and frees it when the slot is
  // re-initialised or at exit.
  std::unique_ptr<uint8_t[]> owned(new (std::nothrow) uint8_t[packet_size]);
  if (owned == nullptr) {
    ClosePort(port);
    return 1;
  }
  uint8_t* buffer = owned.get();
  port.ReceiveBufferOwner = std::move(owned);
  port.ReceiveBufferSize.store(packet_size);
  port.ReceiveBuffer.store(buffer);

  for (;;) {
    if (pause_after > 0 && port.PacketCount.load() == pause_after) {
      ShowEndedRow(port);
      break;
    }
    if (run.StopFlag.load() != 0) break;
    port.StartTime.store(MsClock());
    const uint32_t released_before = port.WritesReleased.load();
    const int32_t read_result = ReceivePacket(port, buffer, packet_size);
    port.LastReadResult.store(read_result);
    if (loopback) {
      // The packet is judged with its own write's result, never without
      // one because the writer stored it a moment after the read completed.
      WaitForWriteResult(port, exit_event.get());
      // A read posted while paused that the stop ended answered no write:
      // no packet was sent for it, so it is counted without a verdict
      // rather than judged with the previous packet's write.
      if (run.StopFlag.load() != 0 && port.WritesReleased.load() == released_before &&
          !ReadEndedAtOnce(read_result)) {
        port.LastWriteResult.store(kWriteNone);
      }
    }
    PacketStep(port);
    ReportLineStatus(*port.Run, port.Device.load(), port.Row, &port.LineErrorCount);
    // A device that is gone ends the port after its one error.
    if (port.Lost.load() != 0) break;
  }
  ClosePort(port);
  return 1;
}

}  // namespace quarnex
