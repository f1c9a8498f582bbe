// The control-request exerciser: a thread per port that sends one chosen
// control request (tester option IoctlIndex, 1..25) again and again while
// packets flow through the same port, and shows the request's label or the
// value it returned in the port's "Last Comm Error" cell.
//
// With OverlapIoctl set, NumberOverlap extra copies of the request (at most
// kMaxOverlap) are queued ahead of each one that is waited for. Each copy has
// a completion record and buffers of its own, which the port's orphan list
// keeps until the device has finished with them; their results are never
// looked at. The request that is waited for uses the thread's own record and
// buffers, which outlive every transfer that refers to them.
//
// Thread-safety: runs on its own thread, started by StartPortThreads. It
// reads StopFlag, ExitEvent and the tester options without a lock, writes
// only its port's cell (column 5) and the port's orphan list, and shares
// ClosePort with the port's reader and writer.
#ifndef QUARNEX_ENGINE_EXERCISER_H_
#define QUARNEX_ENGINE_EXERCISER_H_

#include <cstdint>

#include "testapp/engine/port_table.h"

namespace quarnex {

inline constexpr int32_t kFirstIoctlIndex = 1;
inline constexpr int32_t kLastIoctlIndex = 25;

// The thread body. Loops until StopFlag or ExitEvent ends it, IoctlIndex
// turns 0, or the device rejects the request; then closes the port and
// returns 1.
//
// An IoctlIndex outside 1..25 names no request: the thread sends nothing
// and returns 1 without closing the port, so that a mistyped option does
// not stop the port's packet traffic (the reader or writer closes the port
// when the run stops).
//
// Returns 0, without sending anything or closing the port, when its
// completion event cannot be created; the message "Cannot create event for
// IOCTL." then goes to the messages of the port's run context.
//
// `port` and its run context must stay valid while the thread runs (the
// context's slots live as long as the context).
int IoctlExerciser(PortContext& port);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_EXERCISER_H_
