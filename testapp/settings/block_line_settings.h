// The line a configuration block asks for, decoded once for every backend
// (the simulated adapter, TTYs, COM ports) and for the window's summary of
// the line. Each backend maps the record to its own line set-up.
//
// The fields read (offsets in config_block.h):
//   BitRate (offset 42)          the bit rate as the block holds it; 0 or
//                                negative asks for none (a real port keeps
//                                its current rate, the simulated line runs
//                                unpaced)
//   TxCharacterSize (offset 16)  0, 1, 2, 3 = 5, 7, 6, 8 data bits; any
//                                other value 8
//   Parity (offset 20)           0 none, 1 odd, any other value even
//   AutoDcdCts (offset 24)       nonzero: hardware flow control (RTS/CTS)
// The block has no stop-bit field: an asynchronous line sends one.
//
// Thread-safety: pure functions; any thread.
#ifndef QUARNEX_SETTINGS_BLOCK_LINE_SETTINGS_H_
#define QUARNEX_SETTINGS_BLOCK_LINE_SETTINGS_H_

#include <cstddef>
#include <cstdint>

namespace quarnex {

enum class LineParity { kNone, kOdd, kEven };

struct LineSettings {
  int32_t bit_rate = 0;  // as the block holds it; <= 0 asks for no rate
  int data_bits = 8;
  LineParity parity = LineParity::kNone;
  bool hardware_flow = false;
};

// Reads the settings from a configuration block of `size` bytes. False
// (and *settings untouched) when the block is null or shorter than the 338
// bytes of the format.
bool LineSettingsFromBlock(const void* block, size_t size, LineSettings* settings);

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_BLOCK_LINE_SETTINGS_H_
