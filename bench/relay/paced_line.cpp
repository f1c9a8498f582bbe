#include "bench/relay/paced_line.h"

#include <algorithm>

namespace quarnex {

namespace {

constexpr unsigned __int128 kNsPerSecond = 1000000000;

}  // namespace

PacedLine::PacedLine(uint32_t bit_rate, uint32_t bits_per_character, size_t capacity)
    : bit_rate_(std::max<uint32_t>(bit_rate, 1)),
      bits_per_character_(std::max<uint32_t>(bits_per_character, 1)),
      capacity_(capacity) {}

void PacedLine::Push(int64_t now, const uint8_t* data, size_t size) {
  size = std::min(size, room());
  if (size == 0) return;
  bytes_.insert(bytes_.end(), data, data + size);
  // An idle line starts the new bytes at once; a busy one queues them
  // behind the bytes still crossing.
  if (stretches_.empty() || last_cross_ <= now) {
    stretches_.push_back(Stretch{now, arrived_, arrived_ + size});
  } else {
    stretches_.back().end += size;
  }
  arrived_ += size;
  last_cross_ = CrossTime(arrived_ - 1);
}

uint64_t PacedLine::CrossedIn(const Stretch& s, int64_t now) const {
  if (now <= s.start) return 0;
  // Byte j has crossed once (j + 1) x bits / rate seconds have passed.
  const unsigned __int128 whole = static_cast<unsigned __int128>(now - s.start) * bit_rate_ /
                                  (bits_per_character_ * kNsPerSecond);
  return static_cast<uint64_t>(std::min<unsigned __int128>(whole, s.end - s.first));
}

size_t PacedLine::Crossed(int64_t now) const {
  uint64_t crossed = released_;
  for (const Stretch& s : stretches_) {
    const uint64_t in = CrossedIn(s, now);
    crossed = s.first + in;
    if (s.first + in < s.end) break;
  }
  return static_cast<size_t>(std::max(crossed, released_) - released_);
}

size_t PacedLine::Waiting(uint8_t* out, size_t max) const {
  const size_t n = std::min(max, bytes_.size());
  std::copy_n(bytes_.begin(), n, out);
  return n;
}

void PacedLine::Released(int64_t now, size_t count) {
  count = std::min(count, bytes_.size());
  if (count == 0) return;
  // The line has been busy since its stretch began or since the previous
  // release, whichever is later.
  const int64_t began = std::max(busy_mark_, StretchOf(released_).start);
  if (now > began) counters_.busy_ns += now - began;
  busy_mark_ = now;
  counters_.passed += count;
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(count));
  released_ += count;
  while (!stretches_.empty() && stretches_.front().end <= released_) stretches_.pop_front();
}

const PacedLine::Stretch& PacedLine::StretchOf(uint64_t index) const {
  for (const Stretch& s : stretches_) {
    if (index < s.end) return s;
  }
  return stretches_.back();
}

int64_t PacedLine::CrossTime(uint64_t index) const {
  const Stretch& s = StretchOf(index);
  const unsigned __int128 bits =
      static_cast<unsigned __int128>(index - s.first + 1) * bits_per_character_ * kNsPerSecond;
  // Rounded up: a byte never counts as crossed before its time.
  return s.start + static_cast<int64_t>((bits + bit_rate_ - 1) / bit_rate_);
}

int64_t PacedLine::NextWake(int64_t now, uint64_t burst_bytes) const {
  const uint64_t crossed = released_ + Crossed(now);
  if (crossed >= arrived_) return -1;
  const uint64_t last = std::min(crossed + std::max<uint64_t>(burst_bytes, 1), arrived_) - 1;
  return CrossTime(last);
}

}  // namespace quarnex
