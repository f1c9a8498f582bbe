// FaultDice: decides, repeatably, which frames and transfers of one port a
// configured fault hits.
//
// Every fault kind rolls its own pseudo-random stream, seeded from the
// configured seed, the port number and the kind, and advanced once per frame
// (or transfer) whatever the other kinds do. So with a fixed seed a port's
// faults fall on the same frames in every run, and adding one fault kind
// does not move the others.
//
// Thread-safety: none; the owning port calls it under its own mutex.
#ifndef QUARNEX_ADAPTER_SIM_FAULTS_H_
#define QUARNEX_ADAPTER_SIM_FAULTS_H_

#include <cstdint>
#include <vector>

#include "adapter/sim_config.h"

namespace quarnex {

// A small, fast generator whose output is the same on every platform
// (SplitMix64), unlike the standard distributions.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [0, 1).
  double NextUnit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Uniform in [0, n); n > 0.
  uint64_t Below(uint64_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

class FaultDice {
 public:
  // `active` false (the port is not among the faulted ones) makes every roll
  // come out clean.
  FaultDice(const FaultRates& rates, bool active, uint64_t seed, int port);

  // Rolls the frame faults for one frame arriving at the port: may shorten
  // or change *frame. Returns false when the frame is dropped. Sets
  // *line_errors to the flags the frame raises (0 for none).
  bool OnFrame(std::vector<uint8_t>* frame, uint32_t* line_errors);

  enum class Fate { kNormal, kRefuse, kHang, kInstant };
  // Rolls the transfer faults for one transfer started on the port.
  Fate OnTransfer();
  uint32_t refuse_error() const { return rates_.refuse_error; }

 private:
  enum Stream { kDrop, kCut, kCorrupt, kLineError, kRefuse, kHang, kInstant, kStreams };
  bool Roll(Stream s, double rate) { return active_ && rate > 0 && streams_[s].NextUnit() < rate; }

  FaultRates rates_;
  bool active_;
  std::vector<SplitMix64> streams_;
};

}  // namespace quarnex

#endif  // QUARNEX_ADAPTER_SIM_FAULTS_H_
