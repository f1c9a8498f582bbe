// Waiting for a transfer that may be blocked, and telling a device that is
// gone.
//
// A byte or frame lost on the line leaves a read waiting for data that never
// comes; a far end that stalls leaves a write pending. With "Timeout Blocked
// Threads" on, such a transfer is ended after BlockedTransferTimeoutMs: the
// waiting thread purges the port, the transfer completes as aborted, and the
// packet is judged bad, so a lost byte costs one error, not the port.
//
// Any worker thread may call these; each call concerns one port.
#ifndef QUARNEX_ENGINE_TRANSFER_WAIT_H_
#define QUARNEX_ENGINE_TRANSFER_WAIT_H_

#include <atomic>
#include <cstdint>

#include "testapp/engine/hold_up_watch.h"
#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/platform/event.h"

namespace quarnex {

// Which transfer of a packet the timeout ended (PortContext PendingTimeout
// and LastTimeout).
enum TimeoutKind : int32_t { kTimeoutNone = 0, kTimeoutRead = 1, kTimeoutWrite = 2 };

// T = ReadTotalTimeoutConstant + ReadTotalTimeoutMultiplier +
// 2 x ExpectedPacketTime ms (the last term 0 without a bit rate), from the
// Timeouts settings and the run of `context`; infinity when "Timeout Blocked
// Threads" is off (or T comes to 0), so transfers wait as long as they take.
double BlockedTransferTimeoutMs(const RunContext& context);

// What the engine allows the machine beside the line, in ms. A transfer
// is overdue once it has been outstanding longer than twice its ideal time
// plus kWakeAllowanceMs (this machine's wake-ups), or kUnpacedOverdueMs on
// a line without a BitRate: a snapshot then counts it as one timeout of
// its kind, whether or not the blocked-transfer timeout is on. Past
// kStallFloorMs plus kStallPacketTimes ideal packet times the port is
// stalled: longer than the default timeout T ever waits, so only a
// transfer that no timeout ends (the switch off, a huge T) gets there.
inline constexpr double kWakeAllowanceMs = 200.0;
inline constexpr double kUnpacedOverdueMs = 500.0;
inline constexpr double kStallFloorMs = 2000.0;
inline constexpr double kStallPacketTimes = 4.0;
// The overdue and the stall limit for a line whose ideal packet time is
// `expected_packet_ms` (infinity or 0 without a BitRate).
double OverdueLimitMs(double expected_packet_ms);
double StallLimitMs(double expected_packet_ms);

// Waits for `completion` (returns 0) or `exit` (returns 1), the completion
// winning when both are signalled. The transfer's clock starts at the time
// `armed_at` holds; while it holds 0 the clock has not started (a Loopback
// read before its write was issued) and the wait goes on. Another thread may
// set `armed_at` during the wait. Returns kWaitTimeout once the transfer
// has been watched (WatchedMs) for `timeout_ms` (infinity: no timeout), and
// kWaitFailed when the wait itself fails. Wakes at least once a second to
// notice the tester's own hold-ups.
//
// `awaited` names the transfer when the calling thread judges the port's
// packets (kTimeoutNone otherwise): the wait then registers it for the
// snapshots (AwaitedTransferOf) and, when it was outstanding past the
// stall limit, raises the port's LongestStallMs as it ends. `completion`
// and `armed_at` must outlive the call.
int WaitForTransfer(PortContext& port, TimeoutKind awaited, const EventRef& completion,
                    const Event* exit, const std::atomic<double>& armed_at, double timeout_ms);

// The transfer the port's judging thread waits for at `now_ms`, as a
// snapshot sees it.
struct AwaitedTransfer {
  TimeoutKind kind = kTimeoutNone;  // kTimeoutNone: none, or its clock has not started
  double watched_ms = 0.0;          // WatchedMs so far
  bool completed = false;           // the device has finished it; not judged yet
};
AwaitedTransfer AwaitedTransferOf(const PortContext& port, double now_ms);

// Ends a blocked transfer: records `kind` for the packet's verdict and
// purges the port, which aborts every outstanding transfer of the port
// before it returns.
void EndBlockedTransfer(PortContext& port, TimeoutKind kind);

// Marks the port lost when `error` says its device is gone.
void NoteDeviceError(PortContext& port, uint32_t error);

// Loopback: true while a write among the first `released` releases of the
// port's writer has no stored result yet.
bool WriteResultMissing(const PortContext& port, uint32_t released);

// Loopback: waits until the writer has stored the result of every write
// released so far, so the reader judges the packet with its own write's
// result. Bounded by the timeout (from the write's issue; the write is then
// ended as blocked) and ended at once by `exit` or a lost port.
void WaitForWriteResult(PortContext& port, const Event* exit);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_TRANSFER_WAIT_H_
