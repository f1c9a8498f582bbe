#include "adapter/sim_faults.h"

namespace quarnex {

namespace {

// The six line-error flags a fault raises when no mask was configured.
constexpr uint32_t kLineErrorFlags[] = {kCeBreak,  kCeFrame,    kCeOverrun,
                                        kCeRxOver, kCeRxParity, kCeTxFull};

}  // namespace

uint64_t SplitMix64::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

FaultDice::FaultDice(const FaultRates& rates, bool active, uint64_t seed, int port)
    : rates_(rates), active_(active) {
  streams_.reserve(kStreams);
  for (int s = 0; s < kStreams; ++s) {
    // Mix once so that neighbouring ports and kinds start far apart.
    SplitMix64 mixer(seed ^ (static_cast<uint64_t>(port) << 32) ^ (static_cast<uint64_t>(s) << 16));
    streams_.emplace_back(mixer.Next());
  }
}

bool FaultDice::OnFrame(std::vector<uint8_t>* frame, uint32_t* line_errors) {
  // Every stream rolls for every frame, hit or not, to stay in step.
  const bool drop = Roll(kDrop, rates_.drop);
  const bool cut = Roll(kCut, rates_.cut);
  const bool corrupt = Roll(kCorrupt, rates_.corrupt);
  const bool line_error = Roll(kLineError, rates_.line_error);
  *line_errors = 0;
  if (line_error) {
    *line_errors = rates_.line_error_mask != 0
                       ? rates_.line_error_mask
                       : kLineErrorFlags[streams_[kLineError].Below(std::size(kLineErrorFlags))];
  }
  if (drop) return false;
  if (cut && !frame->empty()) frame->resize(streams_[kCut].Below(frame->size()));
  if (corrupt && !frame->empty()) {
    const size_t at = streams_[kCorrupt].Below(frame->size());
    (*frame)[at] ^= static_cast<uint8_t>(1 + streams_[kCorrupt].Below(255));
  }
  return true;
}

FaultDice::Fate FaultDice::OnTransfer() {
  const bool refuse = Roll(kRefuse, rates_.refuse);
  const bool hang = Roll(kHang, rates_.hang);
  const bool instant = Roll(kInstant, rates_.instant);
  if (refuse) return Fate::kRefuse;
  if (hang) return Fate::kHang;
  if (instant) return Fate::kInstant;
  return Fate::kNormal;
}

}  // namespace quarnex
