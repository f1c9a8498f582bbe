#include "testapp/engine/first_mismatch.h"

namespace quarnex {

size_t FirstDifference(const uint8_t* a, const uint8_t* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return i;
  }
  return length;
}

void NoteFirstMismatch(PortContext& port, MismatchKind kind, int64_t packet, int64_t offset) {
  if (kind == MismatchKind::kNone) return;
  if (port.FirstMismatchKind.load() != static_cast<int32_t>(MismatchKind::kNone)) return;
  port.FirstMismatchPacket.store(packet);
  port.FirstMismatchOffset.store(offset);
  // Last: a reader that sees the kind sees packet and offset too.
  port.FirstMismatchKind.store(static_cast<int32_t>(kind));
}

FirstMismatch FirstMismatchOf(const PortContext& port) {
  FirstMismatch mismatch;
  const int32_t kind = port.FirstMismatchKind.load();
  if (kind != static_cast<int32_t>(MismatchKind::kData) &&
      kind != static_cast<int32_t>(MismatchKind::kLength)) {
    return mismatch;
  }
  mismatch.Kind = static_cast<MismatchKind>(kind);
  mismatch.Packet = port.FirstMismatchPacket.load();
  mismatch.Offset = port.FirstMismatchOffset.load();
  return mismatch;
}

}  // namespace quarnex
