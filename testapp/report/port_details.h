// The details of one port that its row's tooltip shows: the verdict, the
// failed packets by cause, the line errors by kind, the timeouts and the
// first mismatch since Start.
//
// Pure functions over a snapshot (port_counters.h); any thread.
#ifndef QUARNEX_REPORT_PORT_DETAILS_H_
#define QUARNEX_REPORT_PORT_DETAILS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "testapp/report/port_counters.h"

namespace quarnex {

// "break", "framing", "overrun", "receive overflow", "parity" or
// "transmit full"; "" for a kind out of range.
const char* LineErrorKindName(int kind);

// "packet 17, byte 345" for a data mismatch, "packet 3, 1000 bytes
// received" for a short read, "none" before any.
std::string FirstMismatchText(const FirstMismatch& mismatch);

// "break 7, framing 8, overrun 9, receive overflow 10, parity 11,
// transmit full 12": the port's line errors since Start by kind.
std::string LineErrorCountsText(const PortCounters& port);

// The bytes in hex, two lower-case digits each, one space between:
// "41 42 ff".
std::string HexBytes(const uint8_t* bytes, size_t count);

// Two lines, without a line end after the last:
//   "expected from byte 337: 51 52 53 ..."
//   "received from byte 337: 51 52 ff ..."
// a side without bytes reads "(none)"; "" before any mismatch.
std::string MismatchExcerptText(const FirstMismatch& mismatch);

// Several lines, the port's label and verdict first, then the six causes
// under the log's own names ("Write failed: 0", ...), the line errors by
// kind, the read and write timeouts, and the first mismatch with its bytes.
// For a port that could not be opened, after its verdict: "Not opened",
// "Tried: PATH" and "Reason: REASON".
std::string PortDetailsText(const PortCounters& port);

}  // namespace quarnex

#endif  // QUARNEX_REPORT_PORT_DETAILS_H_
