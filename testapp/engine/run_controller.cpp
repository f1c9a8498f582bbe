// The run controller: the steps of Start, the run-wide controls, and the
// closing and clean-up of port slots.
//
// Every object of a run (exit event, file buffer, thread objects, receive
// buffers, orphan lists, device objects) is released only after the threads
// that use it have been joined: at the next Start, or in JoinAllPorts.
#include "testapp/engine/run_controller.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "testapp/driver/device_name.h"
#include "testapp/driver/line_rate.h"
#include "testapp/driver/open_device.h"
#include "testapp/engine/exerciser.h"
#include "testapp/engine/hold_up_watch.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/worker_loops.h"
#include "testapp/pattern/packet_pattern.h"
#include "testapp/platform/message_quote.h"
#include "testapp/platform/regular_file.h"
#include "testapp/platform/thread_priority.h"
#include "testapp/report/row_text.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/configure_port.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

constexpr char kFileErrorText[] = "Error in getting specified file";
constexpr char kExitEventErrorText[] = "Failed to create exit event.\nTest aborted.";
constexpr char kOpenErrorText[] = "Failed to open ";
constexpr char kThreadErrorText[] = "Failed to create worker threads for ";
constexpr char kNoPortErrorText[] = "Port(s) init process failed miserably.\nCan't run the test";

// Stored settings can hold a PortCount past the table or a PacketSize that
// TxPattern cannot hold. Both are read by every part of the engine (and the
// log) straight from the settings, so the clamp is made there: an in-range
// value is never changed, and an out-of-range one is saved at exit as the
// value the run really used.
void ClampRunSettings(Settings& s) {
  if (s.Test.PortCount < 0) s.Test.PortCount = 0;
  if (s.Test.PortCount > kMaxPorts) s.Test.PortCount = kMaxPorts;
  if (s.PacketSize < 1) s.PacketSize = 1;
  if (s.PacketSize > kMaxPacketSize) s.PacketSize = kMaxPacketSize;
}

// Whether the run's workers make way for the window. A port's reader and
// writer take turns, so a port keeps at most about one core busy (two with
// the control-request exerciser). Only a run that can fill every core could
// keep the window waiting; its workers lower their priority and never spin
// in a wait. The workers of a smaller run keep the normal priority, so
// that their hand-offs never queue behind the other threads of the
// machine.
bool WorkersYieldToWindow(const RunContext& context) {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  const int per_port = context.options.IoctlIndex.load() != 0 ? 2 : 1;
  return cores <= 0 || context.SlotsInRange() * per_port >= cores;
}

// Starts one worker of `port` through the run's thread starter; false with
// the reason when the system could not create the thread.
bool SpawnThread(std::thread& thread, int (*body)(PortContext&), PortContext& port,
                 std::string* reason) {
  const bool lower = WorkersYieldToWindow(*port.Run);
  return port.Run->start_thread(
      &thread,
      [body, &port, lower] {
        if (lower) {
          LowerCurrentThreadPriority(kWorkerNice);
          AllowWaitSpinning(false);
        }
        // The engine throws nothing itself, but the library may (memory
        // that cannot be had). Such a port can no longer be tested: it ends
        // as lost, never as a silent good row, and the program goes on.
        try {
          body(port);
        } catch (...) {
          port.Lost.store(1);
          ClosePort(port);
        }
      },
      reason);
}

bool AnyThreadAlive(const RunState& run) {
  for (const PortContext& port : run.Ports) {
    if (port.ReaderThread.joinable() || port.WriterThread.joinable() ||
        port.IoctlThread.joinable()) {
      return true;
    }
  }
  return false;
}

void JoinSlot(PortContext& port) {
  if (port.ReaderThread.joinable()) port.ReaderThread.join();
  if (port.WriterThread.joinable()) port.WriterThread.join();
  if (port.IoctlThread.joinable()) port.IoctlThread.join();
}

// Releases what the slot's last run left behind. The slot's threads have
// been joined and its device is closed, so nothing can still touch the
// receive buffer, the orphan records or the device object.
void ReleaseSlot(PortContext& port) {
  port.Orphans.Clear();
  port.ReceiveBufferSize.store(0);
  port.ReceiveBuffer.store(nullptr);
  port.ReceiveBufferOwner.reset();
  port.WriteEvent.reset();
  port.WriteStoredEvent.reset();
  port.DeviceOwner.reset();
}

// Makes sure no thread of an earlier run can touch any slot any more: stops
// a run that is somehow still going and joins every thread of every slot.
void EndPreviousRun(RunContext& context) {
  RunState& run = context.run;
  if (AnyThreadAlive(run)) {
    run.StopFlag.store(1);
    if (run.ExitEvent) run.ExitEvent->Set();
  }
  JoinAllPorts(context);
}

// Parity as the port settings count it (0 none, 1 odd, 2 even) for the
// block's Parity: a line runs odd parity at 1 and even at any other nonzero
// value.
uint8_t PortParityOf(int32_t block_parity) {
  if (block_parity == 0) return 0;
  return block_parity == 1 ? 1 : 2;
}

// The port settings describe the line the block sets up, so the log, the
// status bar and the reports say what really runs: the character size, the
// parity, and the bit rate when the block gives one. Skipping an unchanged
// write keeps the threads of ports set up earlier, which may read the port
// settings, free of a racing store.
void FollowLineSettings(const DeviceConfigBlock& block, PortSettings* port) {
  const int32_t code = BlockTxCharacterSize(block);
  if (IsCharacterSizeCode(code) && port->ByteSize != DataBitsOfCharacterSize(code)) {
    port->ByteSize = static_cast<uint8_t>(DataBitsOfCharacterSize(code));
  }
  const uint8_t parity = PortParityOf(BlockParity(block));
  if (port->Parity != parity) port->Parity = parity;
  const int32_t bit_rate = BlockBitRate(block);
  if (bit_rate > 0 && port->BaudRate != bit_rate) port->BaudRate = bit_rate;
}

void ShowErrorWithPath(const RunContext& context, const char* text, const std::string& path) {
  context.Messages().ShowError(std::string(text) + path);
}

// The reason of a failed open without the path tried in front, which the
// backends put there ("/dev/ttyUSB0: in use ..."); the path is told on its
// own. A backend that gives no reason found nothing at that path.
std::string OpenReasonOf(const std::string& problem, const std::string& tried) {
  if (problem.empty()) return kReasonNotFound;
  for (const std::string& named : {tried, QuotePathForMessage(tried)}) {
    if (problem.size() > named.size() + 2 && problem.compare(0, named.size(), named) == 0 &&
        problem.compare(named.size(), 2, ": ") == 0) {
      return problem.substr(named.size() + 2);
    }
  }
  return problem;
}

// A port of the range that could not be opened keeps a row of its own, red
// in the window and failed in every report, with what was tried and why;
// the Start's error names both after the device name.
void MarkNotOpened(RunContext& context, PortContext& port, int slot, const std::string& label,
                   const std::string& name, const std::string& tried, const std::string& problem) {
  port.NotOpened = true;
  port.OpenPath = tried.empty() ? name : tried;
  port.OpenReason = OpenReasonOf(problem, port.OpenPath);
  context.Messages().ShowError(kOpenErrorText + name + "\n" + port.OpenPath + ": " +
                               port.OpenReason);
  port.Row = context.View().InsertRow(slot, label);
  context.View().SetCell(port.Row, kColumnStatus, kStatusNotOpened);
}

// Steps 5.6 to 5.9 of a slot: counters, WriteEvent, character size and the
// ideal packet time. Returns false when the WriteEvent could not be made.
bool PrepareSlot(PortContext& port, int32_t mode) {
  port.TotalPacketTime.store(0.0);
  port.MaxPacketTime.store(0.0);
  for (std::atomic<int64_t> PortContext::*live : kLivePacketCounters) (port.*live).store(0);
  port.ReadTimeoutCount.store(0);
  port.WriteTimeoutCount.store(0);
  for (std::atomic<int64_t>& count : port.LineErrorCount) count.store(0);
  port.FirstMismatchKind.store(0);
  port.FirstMismatchPacket.store(0);
  port.FirstMismatchOffset.store(0);
  port.LastWriteResult.store(0);
  port.LastReadResult.store(0);
  port.WritesReleased.store(0);
  port.WritesStored.store(0);
  port.WriteIssuedAt.store(0.0);
  port.ReceivedAny.store(0);
  port.PendingTimeout.store(0);
  port.LastTimeout.store(0);
  port.LongestStallMs.store(0.0);
  port.Lost.store(0);
  port.LastStatus.store(0);
  port.LastRefreshAt = 0.0;
  port.ShownPacketCount = -1;

  if (mode != kReceiveOnly) {
    port.WriteEvent = MakeEvent(Event::Kind::kAutoReset);
    if (!port.WriteEvent) return false;
  }
  if (mode == kLoopback) {
    port.WriteStoredEvent = MakeEvent(Event::Kind::kAutoReset);
    if (!port.WriteStoredEvent) return false;
  }

  Settings& s = port.Run->settings;
  const DeviceConfigBlock& block = port.Run->block;
  FollowLineSettings(block, &s.Port);
  const double parity_bit = BlockParity(block) != 0 ? 1.0 : 0.0;
  // An asynchronous line (a UART) also sends a start bit and its stop bits
  // with every character: without them its figure could never pass 80 %.
  const double framing_bits = port.LineFramingHalfBits / 2.0;
  // Floating point throughout: no overflow, and BitRate 0 gives infinity,
  // which the time cell shows as "N.A.".
  port.Run->run.ExpectedPacketTime.store((parity_bit + s.Port.ByteSize + framing_bits) *
                                         s.PacketSize * 1000.0 /
                                         static_cast<double>(BlockBitRate(block)));
  return true;
}

}  // namespace

void ClearPortSlots(RunContext& context) {
  for (PortContext& port : context.run.Ports) port.InUse.store(0);
}

bool StartRun(RunContext& context) {
  EndPreviousRun(context);
  Settings& s = context.settings;
  ClampRunSettings(s);
  RunState& run = context.run;

  // 1. The transmit/compare file, or the pattern.
  if (s.Test.FileNameLength != 0) {
    const std::string name(s.Test.FileName, strnlen(s.Test.FileName, kFileNameSize));
    std::string reason;
    if (!LoadTransmitFile(context, name.c_str(), &reason)) {
      context.Messages().ShowError(std::string(kFileErrorText) + "\n" + QuotePathForMessage(name) +
                                   ": " + reason);
      return false;
    }
    // Lowers the setting itself, which is saved at exit.
    if (s.Test.FileSize < static_cast<uint32_t>(s.PacketSize)) {
      s.PacketSize = static_cast<int32_t>(s.Test.FileSize);
    }
  } else {
    BuildTxPattern(context);
  }

  // 2. to 4.
  context.View().SelectWholeRows();
  run.ExitEvent = MakeEvent(Event::Kind::kManualReset);
  if (!run.ExitEvent) {
    context.Messages().ShowError(kExitEventErrorText);
    return false;
  }
  // Before any worker exists: a run stopped while paused must not start
  // paused.
  run.StopFlag.store(0);
  run.PauseFlag.store(0);
  run.HeldUpUntil.store(0.0);
  run.HeldUpMaxMs.store(0.0);
  run.HoldUpLookAt.store(0.0);
  context.View().DeleteAllRows();

  // 5. Port by port; threads of earlier ports already run meanwhile.
  const int32_t mode = s.Test.Mode;
  int set_up = 0;
  bool configuration_loaded = false;
  context.config_problem.clear();
  for (int i = 0; i < s.Test.PortCount; ++i) {
    PortContext& port = run.Ports[i];
    port.FileOffset = 0;
    port.TxFileOffset = 0;
    port.InUse.store(0);
    port.Row = -1;
    port.NotOpened = false;
    port.OpenPath.clear();
    port.OpenReason.clear();
    port.LastStatus.store(0);
    // A stored PortIndex near the top of int would overflow here; no port
    // has such a number, so nothing is tried.
    const int64_t wide_n = static_cast<int64_t>(s.Test.PortIndex) + i;
    if (wide_n > std::numeric_limits<int>::max()) {
      const std::string name = std::string(kDevicePathPrefix) + std::to_string(wide_n);
      MarkNotOpened(context, port, i, name.substr(name.rfind('\\') + 1), name, name,
                    kReasonNoSuchPortNumber);
      continue;
    }
    const int n = static_cast<int>(wide_n);

    const std::string path = DevicePath(n);
    OpenResult opened = context.devices.Open(path);
    port.DeviceOwner = std::move(opened.device);
    port.Device.store(port.DeviceOwner.get());
    if (!port.DeviceOwner) {
      MarkNotOpened(context, port, i, PortLabel(n), path, opened.tried, opened.reason);
      continue;
    }
    port.InUse.store(1);
    // The file is read once, when the first port is open: every port gets
    // the same block, and a file that cannot be read is said once.
    if (!configuration_loaded) {
      configuration_loaded = true;
      std::string reason;
      std::vector<std::string> warnings;
      if (!LoadConfigFile(kConfigFileName, context.config_overrides, context.block, context.options,
                          &reason, &warnings)) {
        context.Messages().ShowNotice(ConfigFileNotice(kConfigFileName),
                                      ConfigFileDetail(kConfigFileName, reason));
        context.config_problem = reason;
      }
      for (const std::string& warning : warnings) context.Messages().ShowWarning(warning);
    }
    ConfigurePort(port.DeviceOwner.get(), context.block);
    port.LineBitRate = QueryLineRate(*port.DeviceOwner);
    port.LineFramingHalfBits = QueryLineFraming(*port.DeviceOwner);
    port.Row = context.View().InsertRow(i, PortLabel(n));

    // A port without its WriteEvent stays open with its row, silently.
    if (!PrepareSlot(port, mode)) continue;

    std::string thread_problem;
    if (!StartPortThreads(port, mode, &thread_problem)) {
      // The port cannot be tested: it is closed, so that a thread it did
      // start ends and the run does not wait for it; its row stays.
      ShowErrorWithPath(context, kThreadErrorText, path + "\n" + thread_problem);
      ClosePort(port);
      continue;
    }
    ++set_up;
  }

  // 6.
  if (set_up == 0) {
    context.Messages().ShowError(kNoPortErrorText);
    return false;
  }
  StartHoldUpWatch(run);
  return true;
}

void StopRun(RunContext& context) {
  RunState& run = context.run;
  // StopFlag first: a thread woken by ExitEvent must see it set.
  run.StopFlag.store(1);
  if (run.ExitEvent) run.ExitEvent->Set();
}

void PauseRun(RunContext& context) {
  RunState& run = context.run;
  run.PauseFlag.store(1);
  const int slots = context.SlotsInRange();
  for (int i = 0; i < slots; ++i) {
    PortContext& port = run.Ports[i];
    // Withdraws a release the writer has not consumed yet.
    if (port.InUse.load() == 1 && port.WriteEvent) port.WriteEvent->Reset();
  }
}

void ContinueRun(RunContext& context) {
  RunState& run = context.run;
  // Cleared before any release, so a released writer never sees a stale
  // pause.
  run.PauseFlag.store(0);
  ReleaseOpenWriters(context);
}

void ReleaseOpenWriters(RunContext& context) {
  RunState& run = context.run;
  const int slots = context.SlotsInRange();
  for (int i = 0; i < slots; ++i) {
    PortContext& port = run.Ports[i];
    if (port.InUse.load() == 1) ReleaseWriter(port);
  }
}

void StartTransmitters(RunContext& context) {
  if (context.settings.Test.Mode == kTransmitOnly) ReleaseOpenWriters(context);
}

void ReleaseWriter(PortContext& port) {
  CountRelease(port);
  if (Event* write_event = port.WriteEvent.get()) write_event->Set();
}

void CountRelease(PortContext& port) {
  // Both results are cleared before the signal, so the packet's verdict
  // never sees the previous packet's results as its own.
  port.LastWriteResult.store(0);
  port.LastReadResult.store(0);
  // The new packet's write has not been issued yet, whatever the last one
  // did; the count tells the Loopback reader a write result is due.
  port.WriteIssuedAt.store(0.0);
  port.WritesReleased.fetch_add(1);
}

void ClosePort(PortContext& port) {
  // The exchange makes the test and the clearing of InUse one step, so of
  // all the threads that race here exactly one goes on.
  if (port.InUse.exchange(0) == 0) return;
  // The device object itself stays alive (DeviceOwner) until the slot's
  // threads have been joined, so a thread that loaded the pointer just
  // before this only meets a closed device.
  Device* device = port.Device.exchange(nullptr);
  if (device != nullptr) {
    device->SetCommMask(0);
    device->Close();
  }
  // Close aborted every outstanding transfer synchronously, so the device
  // no longer touches any orphan record or buffer.
  port.Orphans.Clear();
}

void CloseAllPorts(RunContext& context) {
  const int slots = context.SlotsInRange();
  for (int i = 0; i < slots; ++i) ClosePort(context.run.Ports[i]);
}

void JoinAllPorts(RunContext& context) {
  RunState& run = context.run;
  for (PortContext& port : run.Ports) JoinSlot(port);
  JoinHoldUpWatch(run);
  for (PortContext& port : run.Ports) {
    // A slot whose setup failed part-way has no thread left to close it.
    ClosePort(port);
    ReleaseSlot(port);
  }
  // Every device is closed now, so no write left pending at Stop still
  // refers to the file buffer.
  run.FileBuffer.reset();
  run.ExitEvent.reset();
}

bool LoadTransmitFile(RunContext& context, const char* file_name, std::string* reason) {
  Settings& s = context.settings;
  s.Test.FileSize = 0;
  // FileSize is 32-bit: a larger file cannot be described and is refused
  // before it is read.
  FileContents contents;
  if (!ReadRegularFile(file_name, std::numeric_limits<uint32_t>::max(), &contents, reason)) {
    return false;
  }
  if (contents.size == 0) {
    *reason = kReasonEmptyFile;
    return false;
  }
  s.Test.FileSize = static_cast<uint32_t>(contents.size);
  context.run.FileBuffer = std::move(contents.bytes);
  return true;
}

void BuildTxPattern(RunContext& context) {
  const int32_t size = std::clamp(context.settings.PacketSize, 0, kMaxPacketSize);
  FillPattern(PatternKind::kLetters, 0, context.run.TxPattern.data(), static_cast<size_t>(size));
}

bool StartPortThreads(PortContext& port, int32_t mode, std::string* problem) {
  if (mode != kTransmitOnly && !SpawnThread(port.ReaderThread, ReaderLoop, port, problem)) {
    return false;
  }
  if (mode != kReceiveOnly && !SpawnThread(port.WriterThread, WriterLoop, port, problem)) {
    return false;
  }
  if (port.Run->options.IoctlIndex.load() != 0 &&
      !SpawnThread(port.IoctlThread, IoctlExerciser, port, problem)) {
    return false;
  }
  return true;
}

}  // namespace quarnex
