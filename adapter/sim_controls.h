// The simulated driver's control requests: one table row per request code,
// and the line timing that the configuration block sets.
//
// Adding a request means adding a row (code, buffer sizes, handler) to the
// table in sim_controls.cpp; the port does the rest (size checks, faults,
// completing at once or pending).
//
// Thread-safety: handlers run under the owning port's mutex and touch only
// the PortRegisters they are given; the table itself is immutable.
#ifndef QUARNEX_ADAPTER_SIM_CONTROLS_H_
#define QUARNEX_ADAPTER_SIM_CONTROLS_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "adapter/line_scheduler.h"
#include "testapp/settings/config_block.h"

namespace quarnex {

// The configuration block's layout is the settings layer's
// (testapp/settings/config_block.h); the adapter reads its size and the
// three fields that set the line timing.
inline constexpr size_t kSimConfigBlockSize = kConfigBlockSize;

// The line events a wait-mask request (request 4) reports.
inline constexpr uint32_t kLineEventFrame = 0x10;      // a frame arrived
inline constexpr uint32_t kLineEventLineError = 0x20;  // line-error flags were raised

// A port's control lines; the far end reads them (RTS drives its CTS, DTR
// its DCD), so they are atomics rather than guarded by one port's mutex.
struct ModemLines {
  std::atomic<bool> rts{false};
  std::atomic<bool> dtr{false};
};

// How long one frame occupies the line.
struct LineTiming {
  int bits_per_character = 8;
  bool parity = false;
  int32_t bit_rate = 0;  // 0 or negative: no pacing

  bool paced() const { return bit_rate > 0; }
  // (character bits + parity bit) x bytes / bit_rate; zero when unpaced.
  SimClock::duration FrameTime(size_t bytes) const;
};

// The timing of the line a configuration block of kSimConfigBlockSize bytes
// asks for (data bits, parity, bit rate), as every backend reads the block
// (testapp/settings/block_line_settings.h).
LineTiming TimingFromBlock(const uint8_t* block);

// What a control handler may read and change. Guarded by the port's mutex,
// except the modem lines (atomics).
struct PortRegisters {
  std::array<uint8_t, kSimConfigBlockSize> config_block{};
  bool has_config_block = false;
  uint32_t two_values[2] = {0, 0};
  bool has_two_values = false;
  uint32_t line_errors = 0;   // gathered since the last ClearCommError
  size_t frames_waiting = 0;  // received frames nobody has read yet
  ModemLines* own = nullptr;
  const ModemLines* far = nullptr;  // drives our CTS and DCD
};

enum class ControlTiming {
  kAtOnce,          // completes before the call returns
  kBriefly,         // pends for kBriefPending, then completes
  kUntilLineEvent,  // pends until a frame arrives or a line error is raised
};

inline constexpr auto kBriefPending = std::chrono::microseconds(100);

struct ControlRequest {
  const uint8_t* in;  // in_size bytes, at least the table's in_size
  uint32_t in_size;
  uint32_t out_size;  // at least the table's out_size
};

struct ControlAnswer {
  uint32_t error = 0;  // kErrorSuccess
  ControlTiming timing = ControlTiming::kAtOnce;
  std::vector<uint8_t> out;     // the bytes the caller's output receives
  bool timing_changed = false;  // a new configuration block arrived
};

using ControlHandler = ControlAnswer (*)(PortRegisters& registers, const ControlRequest& request);

struct ControlEntry {
  uint32_t code;
  uint32_t in_size;   // bytes of input the request needs
  uint32_t out_size;  // bytes of output it produces
  ControlHandler handler;
};

// The table row of `code`, or null when the driver knows no such request.
const ControlEntry* FindControl(uint32_t code);

}  // namespace quarnex

#endif  // QUARNEX_ADAPTER_SIM_CONTROLS_H_
