#include "testapp/pattern/packet_pattern.h"

namespace quarnex {

namespace {

uint8_t LetterAt(uint64_t position) { return static_cast<uint8_t>('A' + (position % 256) % 26); }

}  // namespace

uint8_t PatternByteAt(PatternKind kind, uint64_t position) {
  switch (kind) {
    case PatternKind::kLetters:
      return LetterAt(position);
  }
  return LetterAt(position);  // not reached: every kind returns above
}

void FillPattern(PatternKind kind, uint64_t position, uint8_t* out, size_t length) {
  switch (kind) {
    case PatternKind::kLetters:
      for (size_t i = 0; i < length; ++i) out[i] = LetterAt(position + i);
      return;
  }
}

}  // namespace quarnex
