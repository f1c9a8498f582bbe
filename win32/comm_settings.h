// Line settings of an ordinary COM port: how the line the configuration
// block asks for (testapp/settings/block_line_settings.h) lands in the
// port's DCB, and its timeouts.
//
// The block describes a synchronous line; a COM port carries only part of
// it, the same part the Linux TTY backend carries: the bit rate (0 or
// negative keeps the port's current rate), the data bits, the parity and
// the RTS/CTS handshake. One stop bit, no software flow control. Every
// other field is accepted and has no effect on a COM port.
//
// Thread-safety: pure functions; any thread.
#ifndef QUARNEX_WIN32_COMM_SETTINGS_H_
#define QUARNEX_WIN32_COMM_SETTINGS_H_

#include <windows.h>

#include "testapp/settings/block_line_settings.h"

namespace quarnex {

// Raw binary mode as the tester needs it: no flow control, no character
// substitution, no abort on a line error (errors are gathered for
// ClearCommError instead), DTR and RTS raised, one stop bit. Leaves the
// rate, character size and parity alone.
void MakeRawDcb(DCB* dcb);

// Sets rate (when above 0), character size, parity (checked, so a bad
// byte is flagged) and the RTS/CTS handshake.
void ApplyCommSettings(const LineSettings& settings, DCB* dcb);

// Timeouts under which a read of N bytes completes only once N bytes came
// and writes never time out: every field 0.
COMMTIMEOUTS WholeTransferTimeouts();

}  // namespace quarnex

#endif  // QUARNEX_WIN32_COMM_SETTINGS_H_
