#include "testapp/engine/transfer_wait.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "testapp/engine/run_context.h"
#include "testapp/engine/verdict.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

constexpr int kExitSignalled = 1;

// A transfer wait looks again at least this often: a clock that started
// meanwhile is honoured within one timeout, and a wake-up far past this
// deadline tells that the tester itself was held up.
constexpr double kLookMs = 1000.0;

int64_t WholeMs(double ms) {
  if (!(ms > 0.0)) return 0;
  if (ms >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int64_t>(std::ceil(ms));
}

// Registers the transfer a judging thread waits for in its port for as
// long as the wait lasts, and on leaving keeps how long it stalled.
class AwaitScope {
 public:
  AwaitScope(PortContext& port, TimeoutKind kind, const EventRef& completion,
             const std::atomic<double>& armed_at)
      : port_(port), kind_(kind), armed_at_(armed_at) {
    if (kind_ == kTimeoutNone) return;
    std::lock_guard<std::mutex> lock(port_.AwaitMutex);
    port_.AwaitedKind = kind_;
    port_.AwaitedClock = &armed_at_;
    port_.AwaitedEvent = completion;
  }
  ~AwaitScope() {
    if (kind_ == kTimeoutNone) return;
    {
      std::lock_guard<std::mutex> lock(port_.AwaitMutex);
      port_.AwaitedKind = kTimeoutNone;
      port_.AwaitedClock = nullptr;
      port_.AwaitedEvent.reset();
    }
    const double armed = armed_at_.load();
    if (armed == 0.0) return;
    const RunState& run = port_.Run->run;
    const double limit = StallLimitMs(run.ExpectedPacketTime.load());
    if (!(WatchedMs(run, armed, MsClock()) > limit)) return;
    SettleHoldUps(run);
    const double watched = WatchedMs(run, armed, MsClock());
    if (watched > limit) RaiseTo(port_.LongestStallMs, watched);
  }
  AwaitScope(const AwaitScope&) = delete;
  AwaitScope& operator=(const AwaitScope&) = delete;

 private:
  PortContext& port_;
  const TimeoutKind kind_;
  const std::atomic<double>& armed_at_;
};

}  // namespace

bool WriteResultMissing(const PortContext& port, uint32_t released) {
  return static_cast<int32_t>(port.WritesStored.load() - released) < 0;
}

double BlockedTransferTimeoutMs(const RunContext& context) {
  const Settings& s = context.settings;
  if (s.Test.TimeoutBlockedThreads == 0) return std::numeric_limits<double>::infinity();
  const double expected = context.run.ExpectedPacketTime.load();
  const double line_term = std::isfinite(expected) && expected > 0.0 ? 2.0 * expected : 0.0;
  const double timeout = static_cast<double>(s.Timeouts.ReadTotalTimeoutConstant) +
                         static_cast<double>(s.Timeouts.ReadTotalTimeoutMultiplier) + line_term;
  // Both values 0 on a line without a bit rate would end every transfer at
  // once: as with the driver's own total timeouts, zero means none.
  return timeout > 0.0 ? timeout : std::numeric_limits<double>::infinity();
}

double OverdueLimitMs(double expected_packet_ms) {
  if (!std::isfinite(expected_packet_ms) || !(expected_packet_ms > 0.0)) return kUnpacedOverdueMs;
  return 2.0 * expected_packet_ms + kWakeAllowanceMs;
}

double StallLimitMs(double expected_packet_ms) {
  if (!std::isfinite(expected_packet_ms) || !(expected_packet_ms > 0.0)) return kStallFloorMs;
  return kStallFloorMs + kStallPacketTimes * expected_packet_ms;
}

int WaitForTransfer(PortContext& port, TimeoutKind awaited, const EventRef& completion,
                    const Event* exit, const std::atomic<double>& armed_at, double timeout_ms) {
  RunState& run = port.Run->run;
  const AwaitScope scope(port, awaited, completion, armed_at);
  for (;;) {
    const double now = MsClock();
    const double armed = armed_at.load();
    double wait_ms = kLookMs;
    if (armed != 0.0 && std::isfinite(timeout_ms)) {
      double left = timeout_ms - WatchedMs(run, armed, now);
      // Before blaming the line: was this thread held up since it last
      // looked, outside the wait?
      if (left <= 0.0) {
        SettleHoldUps(run);
        left = timeout_ms - WatchedMs(run, armed, MsClock());
      }
      // The transfer may have completed just now: that still counts.
      if (left <= 0.0) {
        const int woken = WaitAny({completion.get(), exit}, 0);
        return woken == kWaitTimeout ? kWaitTimeout : woken;
      }
      wait_ms = std::min(wait_ms, left);
    }
    const int64_t whole_ms = WholeMs(wait_ms);
    const int woken = WaitAny({completion.get(), exit}, whole_ms);
    if (woken != kWaitTimeout) return woken;
    NoteWake(run, now + static_cast<double>(whole_ms), MsClock());
  }
}

AwaitedTransfer AwaitedTransferOf(const PortContext& port, double now_ms) {
  AwaitedTransfer seen;
  EventRef event;
  double armed = 0.0;
  {
    std::lock_guard<std::mutex> lock(port.AwaitMutex);
    if (port.AwaitedKind == kTimeoutNone || port.AwaitedClock == nullptr) return seen;
    armed = port.AwaitedClock->load();
    if (armed == 0.0) return seen;
    seen.kind = static_cast<TimeoutKind>(port.AwaitedKind);
    event = port.AwaitedEvent;
  }
  // A Loopback read waits for a packet whose write may be what blocks,
  // as the timeout would say.
  if (seen.kind == kTimeoutRead && port.Run->settings.Test.Mode == kLoopback &&
      WriteResultMissing(port, port.WritesReleased.load())) {
    seen.kind = kTimeoutWrite;
  }
  seen.watched_ms = WatchedMs(port.Run->run, armed, now_ms);
  seen.completed = event != nullptr && event->IsSet();
  return seen;
}

void EndBlockedTransfer(PortContext& port, TimeoutKind kind) {
  port.PendingTimeout.store(kind);
  PurgePort(port);
}

void NoteDeviceError(PortContext& port, uint32_t error) {
  if (error == kErrorDeviceNotConnected) port.Lost.store(1);
}

void WaitForWriteResult(PortContext& port, const Event* exit) {
  if (port.WriteStoredEvent == nullptr) return;
  const uint32_t released = port.WritesReleased.load();
  double timeout = BlockedTransferTimeoutMs(*port.Run);
  while (WriteResultMissing(port, released) && port.Lost.load() == 0) {
    const int woken = WaitForTransfer(port, kTimeoutWrite, port.WriteStoredEvent, exit,
                                      port.WriteIssuedAt, timeout);
    if (woken == kExitSignalled || woken == kWaitFailed) return;
    if (woken == kWaitTimeout) {
      // The write blocks although its packet already came back (or the
      // read ended): end it; the purge makes the writer store its result
      // at once, so from here the wait needs no clock.
      EndBlockedTransfer(port, kTimeoutWrite);
      timeout = std::numeric_limits<double>::infinity();
    }
  }
}

}  // namespace quarnex
