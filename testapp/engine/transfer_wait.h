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

// Waits for `completion` (returns 0) or `exit` (returns 1), the completion
// winning when both are signalled. The transfer's clock starts at the time
// `armed_at` holds; while it holds 0 the clock has not started (a Loopback
// read before its write was issued) and the wait goes on. Another thread may
// set `armed_at` during the wait. Returns kWaitTimeout once armed_at +
// timeout_ms has passed (timeout_ms may be infinity: no timeout), and
// kWaitFailed when the wait itself fails.
int WaitForTransfer(const Event* completion, const Event* exit, const std::atomic<double>& armed_at,
                    double timeout_ms);

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
