// Line settings of an ordinary COM port: what the configuration block asks
// of it, and how that lands in the port's DCB and timeouts.
//
// The block describes a synchronous line; a COM port carries only part of
// it, the same part the Linux TTY backend carries:
//   BitRate (offset 42)          the baud rate; 0 or negative keeps the
//                                port's current rate
//   TxCharacterSize (offset 16)  0, 1, 2, 3 = 5, 7, 6, 8 data bits; any
//                                other value 8
//   Parity (offset 20)           0 none, 1 odd, any other nonzero value even
//   AutoDcdCts (offset 24)       nonzero: RTS/CTS handshake
// One stop bit, no software flow control. Every other field is accepted
// and has no effect on a COM port.
//
// Thread-safety: pure functions; any thread.
#ifndef QUARNEX_WIN32_COMM_SETTINGS_H_
#define QUARNEX_WIN32_COMM_SETTINGS_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace quarnex {

enum class CommParity { kNone, kOdd, kEven };

struct CommLineSettings {
  int32_t bit_rate = 0;  // as the block holds it; <= 0 keeps the current rate
  int data_bits = 8;
  CommParity parity = CommParity::kNone;
  bool hardware_flow = false;
};

// Reads the settings from a configuration block of `size` bytes. False
// (and *settings untouched) when the block is shorter than the 338 bytes
// of the format.
bool CommSettingsFromBlock(const void* block, size_t size, CommLineSettings* settings);

// Raw binary mode as the tester needs it: no flow control, no character
// substitution, no abort on a line error (errors are gathered for
// ClearCommError instead), DTR and RTS raised, one stop bit. Leaves the
// rate, character size and parity alone.
void MakeRawDcb(DCB* dcb);

// Sets rate (when above 0), character size, parity (checked, so a bad
// byte is flagged) and the RTS/CTS handshake.
void ApplyCommSettings(const CommLineSettings& settings, DCB* dcb);

// Timeouts under which a read of N bytes completes only once N bytes came
// and writes never time out: every field 0.
COMMTIMEOUTS WholeTransferTimeouts();

}  // namespace quarnex

#endif  // QUARNEX_WIN32_COMM_SETTINGS_H_
