// The generated test pattern: the bytes a packet carries when no file is
// sent. The engine fills its packets here and the simulated adapter's
// pattern source sends the same bytes, so the formula lives only here.
//
// A pattern is a stream: `position` counts bytes from its start, and a
// packet of the pattern starts at position 0. Kinds whose bytes depend on
// what came before (pseudo-random sequences) fit the same shape.
//
// Thread-safety: pure functions on the caller's buffers; any thread.
#ifndef QUARNEX_PATTERN_PACKET_PATTERN_H_
#define QUARNEX_PATTERN_PACKET_PATTERN_H_

#include <cstddef>
#include <cstdint>

namespace quarnex {

enum class PatternKind {
  // The capital letters A to Z over and over, starting again with A at
  // every 256th byte: byte i is 'A' + ((i mod 256) mod 26).
  kLetters,
};

// The byte of `kind` at `position`.
uint8_t PatternByteAt(PatternKind kind, uint64_t position);

// Writes the `length` bytes of `kind` from `position` on to out[0..length).
// `out` may be null when `length` is 0.
void FillPattern(PatternKind kind, uint64_t position, uint8_t* out, size_t length);

}  // namespace quarnex

#endif  // QUARNEX_PATTERN_PACKET_PATTERN_H_
