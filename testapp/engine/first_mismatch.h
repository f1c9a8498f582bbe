// The first mismatch of a run: where the first bad packet since Start
// differed from what was sent, kept once per Start for the window's
// tooltip and the snapshots (port_counters.h).
//
// Called on the port's judging thread (the reader), the one writer of the
// port's FirstMismatch fields.
#ifndef QUARNEX_ENGINE_FIRST_MISMATCH_H_
#define QUARNEX_ENGINE_FIRST_MISMATCH_H_

#include <cstddef>
#include <cstdint>

#include "testapp/engine/port_table.h"
#include "testapp/report/port_counters.h"

namespace quarnex {

// The excerpt around `offset`: up to kMismatchExcerptSize bytes from each
// side, starting 8 bytes before it (or at the first byte). `expected` and
// `received` hold the bytes from `base` on (`base` counted as `offset` is),
// `expected_size` and `received_size` of them; either may be null with
// size 0. Never reads past either buffer.
MismatchExcerpt MakeMismatchExcerpt(int64_t offset, int64_t base, const uint8_t* expected,
                                    size_t expected_size, const uint8_t* received,
                                    size_t received_size);

// Keeps `kind`, `packet` (the PacketCount of the bad packet), `offset` and
// the bytes around it as the port's first mismatch unless one was kept
// since Start.
void NoteFirstMismatch(PortContext& port, MismatchKind kind, int64_t packet, int64_t offset,
                       const MismatchExcerpt& excerpt);

// The port's first mismatch as kept so far; Kind kNone before any.
FirstMismatch FirstMismatchOf(const PortContext& port);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_FIRST_MISMATCH_H_
