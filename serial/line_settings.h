// Line settings of a real port: how the line the configuration block asks
// for (testapp/settings/block_line_settings.h) lands in the termios record.
//
// The block describes a synchronous line; a TTY can carry only part of it:
// the bit rate (0 or negative keeps the port's current rate, since B0 would
// hang up), the data bits, the parity and hardware flow control (RTS/CTS).
// One stop bit, no software flow control. Every other field is accepted
// and has no effect on a TTY.
//
// Thread-safety: pure functions; any thread.
#ifndef QUARNEX_SERIAL_LINE_SETTINGS_H_
#define QUARNEX_SERIAL_LINE_SETTINGS_H_

#include <termios.h>

#include <cstdint>

#include "testapp/settings/block_line_settings.h"

namespace quarnex {

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
