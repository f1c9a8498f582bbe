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

// While a transfer's clock has not started, the wait looks again this
// often (at most; a shorter timeout looks sooner), so a clock that starts
// meanwhile is honoured within one timeout.
constexpr double kUnarmedLookMs = 1000.0;

int64_t WholeMs(double ms) {
  if (!(ms > 0.0)) return 0;
  if (ms >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int64_t>(std::ceil(ms));
}

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

int WaitForTransfer(const Event* completion, const Event* exit, const std::atomic<double>& armed_at,
                    double timeout_ms) {
  if (!std::isfinite(timeout_ms)) return WaitAny({completion, exit}, kInfinite);
  for (;;) {
    const double armed = armed_at.load();
    double wait_ms = std::min(timeout_ms, kUnarmedLookMs);
    if (armed != 0.0) {
      const double left = armed + timeout_ms - MsClock();
      // The transfer may have completed just now: that still counts.
      if (left <= 0.0) return WaitAny({completion, exit}, 0);
      wait_ms = left;
    }
    const int woken = WaitAny({completion, exit}, WholeMs(wait_ms));
    if (woken != kWaitTimeout) return woken;
  }
}

void EndBlockedTransfer(PortContext& port, TimeoutKind kind) {
  port.PendingTimeout.store(kind);
  PurgePort(port);
}

void NoteDeviceError(PortContext& port, uint32_t error) {
  if (error == kErrorDeviceNotConnected) port.Lost.store(1);
}

void WaitForWriteResult(PortContext& port, const Event* exit) {
  const Event* stored = port.WriteStoredEvent.get();
  if (stored == nullptr) return;
  const uint32_t released = port.WritesReleased.load();
  double timeout = BlockedTransferTimeoutMs(*port.Run);
  while (WriteResultMissing(port, released) && port.Lost.load() == 0) {
    const int woken = WaitForTransfer(stored, exit, port.WriteIssuedAt, timeout);
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
