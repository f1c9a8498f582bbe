// Judging a received packet against what was sent: whether the bytes are
// equal and, when not, where they first differ. The engine judges pattern
// packets and file chunks with it.
//
// Thread-safety: pure function on the caller's buffers; any thread.
#ifndef QUARNEX_PATTERN_PAYLOAD_COMPARE_H_
#define QUARNEX_PATTERN_PAYLOAD_COMPARE_H_

#include <cstddef>
#include <cstdint>

namespace quarnex {

// What a comparison found. A bit-error count has room beside these.
struct PayloadComparison {
  size_t compared = 0;
  // The index of the first byte that differs; `compared` when none does.
  size_t first_difference = 0;

  bool equal() const { return first_difference == compared; }
};

// Compares the first `length` bytes of `received` with those of `sent`.
// Both must hold `length` bytes; either may be null when `length` is 0.
PayloadComparison ComparePayload(const uint8_t* sent, const uint8_t* received, size_t length);

}  // namespace quarnex

#endif  // QUARNEX_PATTERN_PAYLOAD_COMPARE_H_
