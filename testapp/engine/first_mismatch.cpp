#include "testapp/engine/first_mismatch.h"

#include <algorithm>
#include <cstring>

namespace quarnex {

namespace {

// How far before the first difference an excerpt starts: enough to see
// the difference in its context, with most of the excerpt after it.
constexpr int64_t kBytesBefore = 8;

}  // namespace

MismatchExcerpt MakeMismatchExcerpt(int64_t offset, int64_t base, const uint8_t* expected,
                                    size_t expected_size, const uint8_t* received,
                                    size_t received_size) {
  MismatchExcerpt excerpt;
  excerpt.Offset = std::max(base, offset - kBytesBefore);
  const auto skip = static_cast<uint64_t>(excerpt.Offset - base);
  const auto take = [skip](const uint8_t* from, size_t size, uint8_t* to) -> uint8_t {
    if (from == nullptr || skip >= size) return 0;
    const size_t n = std::min(kMismatchExcerptSize, size - static_cast<size_t>(skip));
    std::memcpy(to, from + skip, n);
    return static_cast<uint8_t>(n);
  };
  excerpt.ExpectedLength = take(expected, expected_size, excerpt.Expected.data());
  excerpt.ReceivedLength = take(received, received_size, excerpt.Received.data());
  return excerpt;
}

void NoteFirstMismatch(PortContext& port, MismatchKind kind, int64_t packet, int64_t offset,
                       const MismatchExcerpt& excerpt) {
  if (kind == MismatchKind::kNone) return;
  if (port.FirstMismatchKind.load() != static_cast<int32_t>(MismatchKind::kNone)) return;
  port.FirstMismatchPacket.store(packet);
  port.FirstMismatchOffset.store(offset);
  port.FirstMismatchExcerpt = excerpt;
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
  mismatch.Excerpt = port.FirstMismatchExcerpt;
  return mismatch;
}

}  // namespace quarnex
