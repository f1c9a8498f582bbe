// Line settings of a real port: what the configuration block asks of a
// TTY, and how it lands in the termios record.
//
// The block describes a synchronous line; a TTY can carry only part of it.
// What it carries:
//   BitRate (offset 42)          the baud rate; 0 or negative keeps the
//                                port's current rate (B0 would hang up)
//   TxCharacterSize (offset 16)  0, 1, 2, 3 = 5, 7, 6, 8 data bits; any
//                                other value 8
//   Parity (offset 20)           0 none, 1 odd, 2 even, any other nonzero
//                                value even
//   AutoDcdCts (offset 24)       nonzero: hardware flow control (RTS/CTS)
// One stop bit, no software flow control. Every other field is accepted
// and has no effect on a TTY.
//
// Thread-safety: pure functions; any thread.
#ifndef QUARNEX_SERIAL_LINE_SETTINGS_H_
#define QUARNEX_SERIAL_LINE_SETTINGS_H_

#include <termios.h>

#include <cstddef>
#include <cstdint>

namespace quarnex {

enum class LineParity { kNone, kOdd, kEven };

struct LineSettings {
  int32_t bit_rate = 0;  // as the block holds it; <= 0 keeps the current rate
  int data_bits = 8;
  LineParity parity = LineParity::kNone;
  bool hardware_flow = false;
};

// Reads the settings from a configuration block of `size` bytes. False
// (and *settings untouched) when the block is shorter than the 338 bytes
// of the format.
bool LineSettingsFromBlock(const void* block, size_t size, LineSettings* settings);

// Bits one character occupies on the line: start, data, parity, stop.
int LineBitsPerCharacter(const LineSettings& settings);

// The stop bits `t` sends after each character, in halves of a bit: 2 for
// one stop bit, 4 for two (CSTOPB).
uint32_t TtyStopBitHalves(const termios& t);

// Raw mode as the tester needs it: no echo, no line editing, no character
// translation, no signals, no flow control, receiver on, modem control
// lines ignored for opening, and a read returns as soon as one byte is
// there (VMIN 1, VTIME 0). Leaves the rate alone.
void MakeRawLine(termios* t);

// Sets character size, parity (with input parity checking, so a bad byte
// is flagged by the driver) and hardware flow control; leaves the rate and
// everything else alone.
void ApplyLineSettings(const LineSettings& settings, termios* t);

// The data bits and parity `t` holds, for reading the driver's answer
// back. Rate and flow control are not part of the comparison.
bool LineFramingMatches(const LineSettings& settings, const termios& t);

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_LINE_SETTINGS_H_
