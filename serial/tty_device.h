// TtyDevice: one real serial port (a Linux TTY) behind the device
// interface.
//
// Opening takes the port exclusively (TIOCEXCL, and an advisory
// flock(LOCK_EX | LOCK_NB) that other well-behaved programs honour too),
// puts it into raw mode and discards what was buffered. Close restores the
// termios settings, the line discipline and the RTS/DTR lines the port had
// before.
//
// Transfers run on FdTransfers (one I/O thread per open device). Control
// requests complete at once:
//   0x80002000  configuration block: rate, character size, parity, flow
//               control (serial/line_settings.h), read back after setting;
//               a rate the driver changed is told on stderr and is what
//               kIoctlGetLineRate and ActualBitRate() report
//   0x80002054  the two values: accepted, no effect
//   0x80002060/64/68/6C  set DTR, clear DTR, set RTS, clear RTS
//   0x80002070/74  CTS, DCD: 1 byte out, 1 high, 0 low
//   kIoctlGetLineRate  the rate the driver runs the line at: 4 bytes out,
//               little-endian bits per second
//   kIoctlGetLineFraming  the start and stop bits of each character, in
//               half bits, as the termios record holds them
// The modem-line requests fail with kErrorNotSupported where the driver has
// no modem lines (pseudo-terminals). The adapter's other requests fail with
// kErrorNotSupported, unknown codes with kErrorInvalidFunction.
//
// ClearCommError reports what the kernel's error counters (TIOCGICOUNT)
// gained since the previous query (serial/line_errors.h); where the driver
// keeps none (pseudo-terminals) it succeeds with mask 0.
//
// A hang-up (the far end of a pseudo-terminal closed, a USB adapter
// unplugged) means the device is gone: reads and writes fail with
// kErrorDeviceNotConnected (FdTransfers), pending ones and every later one
// at once, and so do the requests that reach the driver (configuration
// block, modem lines, line rate). The two-value request and the adapter's
// own requests never touch the TTY and answer as before. ClearCommError
// succeeds with mask 0: a line that is gone raises no line errors, and its
// loss is told once, by the transfers. Purge and SetCommMask succeed and
// change nothing that matters; Close releases the port as ever.
//
// Thread-safety: every method may be called from any thread at any time,
// also concurrently and after Close (then calls fail with
// kErrorInvalidHandle). Buffer lifetime and cancellation as in device.h.
#ifndef QUARNEX_SERIAL_TTY_DEVICE_H_
#define QUARNEX_SERIAL_TTY_DEVICE_H_

#include <termios.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "serial/fd_transfers.h"
#include "serial/line_errors.h"
#include "testapp/driver/control_codes.h"
#include "testapp/driver/device.h"
#include "testapp/driver/line_rate.h"
#include "testapp/platform/unique_fd.h"

namespace quarnex {

// Why an open with internal_loopback failed.
inline constexpr char kNoInternalLoopbackText[] =
    "internal loopback is not offered by this port's driver";

struct TtyOpenOptions {
  // Synchronous framing: the port is switched to the N_HDLC line
  // discipline, one write is one frame and one read returns one frame.
  bool framed = false;
  // How the port is named in messages, e.g. "Quarnex01".
  std::string label;
  // The UART's internal loopback (TIOCM_LOOP): what the port sends comes
  // back to it without a plug. The open fails where the driver does not
  // offer it (the bit does not read back), so a run never passes on a line
  // that was not looped; Close clears it with the other modem lines.
  bool internal_loopback = false;
};

class TtyDevice : public Device {
 public:
  // Use OpenTtyDevice.
  TtyDevice(UniqueFd fd, const TtyOpenOptions& options);
  ~TtyDevice() override;

  // Transfers without a completion record run synchronously: they return
  // once the transfer ended, aborted by Purge or Close at the latest.
  IoStatus Read(void* buffer, uint32_t length, Completion* completion) override;
  IoStatus Write(const void* data, uint32_t length, Completion* completion) override;
  IoStatus Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                   Completion* completion) override;
  bool ClearCommError(uint32_t* errors, uint32_t* error) override;
  bool Purge(uint32_t flags) override;
  bool SetCommMask(uint32_t mask) override;
  void Close() override;

  // The bit rate the driver runs the line at now (0 after Close or when
  // the driver does not say).
  uint32_t ActualBitRate() const;

 private:
  friend std::shared_ptr<TtyDevice> OpenTtyDevice(const std::string&, const TtyOpenOptions&,
                                                  std::string*);

  // The open's set-up after the descriptor is locked: saves what Close
  // restores, raw mode, N_HDLC when framed, the I/O thread. False with
  // *problem set.
  bool SetUp(std::string* problem);
  IoStatus Configure(const void* in, uint32_t in_size);
  IoStatus ModemLine(unsigned long request, int bits);
  IoStatus GetModemLine(int bit, void* out, uint32_t out_size);
  IoStatus LineRate(void* out, uint32_t out_size);
  IoStatus LineFraming(void* out, uint32_t out_size);
  // Reads the error counters: kErrorSuccess (*supported false when the
  // driver keeps none), kErrorDeviceNotConnected after a hang-up, or
  // kErrorGenFailure.
  uint32_t ReadCounters(LineErrorCounters* counters, bool* supported) const;
  // Restores the port and closes the descriptor; mu_ held, I/O stopped.
  void ReleaseLocked();

  const TtyOpenOptions options_;
  // Declared before transfers_, so that it is closed only after the I/O
  // thread has ended; Close resets it under mu_.
  UniqueFd fd_;
  FdTransfers transfers_;

  std::mutex close_mu_;  // serialises Close

  mutable std::mutex mu_;  // guards the members below and fd_ once the device is in use
  bool open_ = true;
  termios saved_termios_{};
  bool saved_termios_valid_ = false;
  uint32_t saved_rate_ = 0;
  int saved_modem_ = 0;
  bool saved_modem_valid_ = false;
  int saved_ldisc_ = 0;
  bool ldisc_changed_ = false;
  LineErrorCounters counters_{};       // at the last ClearCommError (or the open)
  bool counters_unsupported_ = false;  // the driver has no TIOCGICOUNT
  uint32_t comm_mask_ = 0;
};

// Opens the TTY at `path` (a device node or a link to one) as a port.
// Returns null when it cannot be used; then *problem (when not null) says
// why, and stays empty when the path does not exist (a missing port, or a
// link that points nowhere), which is no problem but an absent port.
std::shared_ptr<TtyDevice> OpenTtyDevice(const std::string& path, const TtyOpenOptions& options,
                                         std::string* problem);

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_TTY_DEVICE_H_
