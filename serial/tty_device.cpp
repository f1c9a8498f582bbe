#include "serial/tty_device.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <linux/tty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "serial/bit_rate.h"
#include "serial/line_settings.h"
#include "testapp/driver/run_to_end.h"
#include "testapp/platform/byte_order.h"
#include "testapp/platform/open_error.h"

namespace quarnex {

namespace {

// Drivers without modem lines or error counters (pseudo-terminals among
// them) answer these.
bool IsUnsupported(int e) { return e == ENOTTY || e == EINVAL; }

// How a call that reached the driver failed: the device is gone, or this
// one call failed.
uint32_t FailureOf(int e) { return IsHangUpErrno(e) ? kErrorDeviceNotConnected : kErrorGenFailure; }

// The requests that reach the TTY driver. After a hang-up these fail as
// the transfers do; the others never touch the device and answer as ever.
bool ReachesDriver(uint32_t code) {
  switch (code) {
    case kIoctlSetConfiguration:
    case kIoctlSetDtr:
    case kIoctlClearDtr:
    case kIoctlSetRts:
    case kIoctlClearRts:
    case kIoctlGetCts:
    case kIoctlGetDcd:
    case kIoctlGetLineRate:
    case kIoctlGetLineFraming:
      return true;
    default:
      return false;
  }
}

std::string Describe(const std::string& what, int e) { return what + ": " + OpenErrorText(e); }

// TIOCM_LOOP, which the C library's headers leave out (the kernel's
// asm-generic/termios.h has it, and <termios.h> cannot be had beside it).
constexpr int kModemLineLoop = 0x8000;

// Switches the UART's internal loopback on. Only a driver that keeps the
// bit reports it back; one that takes the request and ignores it (most USB
// adapters) would leave the port unlooped, so the bit must read back.
bool SetInternalLoopback(int fd) {
  int loop = kModemLineLoop;
  int bits = 0;
  return ioctl(fd, TIOCMBIS, &loop) == 0 && ioctl(fd, TIOCMGET, &bits) == 0 &&
         (bits & kModemLineLoop) != 0;
}

}  // namespace

TtyDevice::TtyDevice(UniqueFd fd, const TtyOpenOptions& options)
    : options_(options),
      fd_(std::move(fd)),
      transfers_(fd_.get(),
                 options.framed ? FdTransfers::Framing::kFramed : FdTransfers::Framing::kStream) {}

TtyDevice::~TtyDevice() { Close(); }

bool TtyDevice::SetUp(std::string* problem) {
  std::lock_guard<std::mutex> lock(mu_);
  const int fd = fd_.get();
  if (tcgetattr(fd, &saved_termios_) != 0) {
    *problem = Describe("cannot read its settings", errno);
    return false;
  }
  saved_termios_valid_ = true;
  if (!GetTtyBitRate(fd, &saved_rate_)) saved_rate_ = 0;
  saved_modem_valid_ = ioctl(fd, TIOCMGET, &saved_modem_) == 0;

  termios raw = saved_termios_;
  MakeRawLine(&raw);
  if (tcsetattr(fd, TCSANOW, &raw) != 0) {
    *problem = Describe("cannot set raw mode", errno);
    return false;
  }
  if (options_.internal_loopback && !SetInternalLoopback(fd)) {
    *problem = kNoInternalLoopbackText;
    return false;
  }
  if (options_.framed) {
    if (ioctl(fd, TIOCGETD, &saved_ldisc_) != 0) saved_ldisc_ = N_TTY;
    int hdlc = N_HDLC;
    if (ioctl(fd, TIOCSETD, &hdlc) != 0) {
      *problem = Describe("framed mode needs the N_HDLC line discipline (modprobe n_hdlc)", errno);
      return false;
    }
    ldisc_changed_ = true;
  }
  // What waited in the buffers belongs to whoever used the port before.
  tcflush(fd, TCIOFLUSH);
  bool supported = false;
  counters_unsupported_ = ReadCounters(&counters_, &supported) == kErrorSuccess && !supported;
  uint32_t rate = 0;
  if (GetTtyBitRate(fd, &rate)) transfers_.SetLinePace(rate, 10);
  uint32_t error = kErrorSuccess;
  if (!transfers_.Start(&error)) {
    *problem = "cannot start its I/O thread (error " + std::to_string(error) + ")";
    return false;
  }
  return true;
}

IoStatus TtyDevice::Read(void* buffer, uint32_t length, Completion* completion) {
  if (completion != nullptr) return transfers_.Read(buffer, length, completion);
  return RunToEnd(this, [&](Completion* c) { return transfers_.Read(buffer, length, c); });
}

IoStatus TtyDevice::Write(const void* data, uint32_t length, Completion* completion) {
  if (completion != nullptr) return transfers_.Write(data, length, completion);
  return RunToEnd(this, [&](Completion* c) { return transfers_.Write(data, length, c); });
}

IoStatus TtyDevice::Control(uint32_t code, const void* in, uint32_t in_size, void* out,
                            uint32_t out_size, Completion* completion) {
  if (completion != nullptr && completion->event) completion->event->Reset();
  IoStatus status;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_) return IoStatus{kErrorInvalidHandle, 0};
    if (ReachesDriver(code) && transfers_.hung_up()) return IoStatus{kErrorDeviceNotConnected, 0};
    switch (code) {
      case kIoctlSetConfiguration:
        status = Configure(in, in_size);
        break;
      case kIoctlSetTwoValues:
        status = IoStatus{kErrorSuccess, 0};  // no meaning on a TTY
        break;
      case kIoctlSetDtr:
        status = ModemLine(TIOCMBIS, TIOCM_DTR);
        break;
      case kIoctlClearDtr:
        status = ModemLine(TIOCMBIC, TIOCM_DTR);
        break;
      case kIoctlSetRts:
        status = ModemLine(TIOCMBIS, TIOCM_RTS);
        break;
      case kIoctlClearRts:
        status = ModemLine(TIOCMBIC, TIOCM_RTS);
        break;
      case kIoctlGetCts:
        status = GetModemLine(TIOCM_CTS, out, out_size);
        break;
      case kIoctlGetDcd:
        status = GetModemLine(TIOCM_CAR, out, out_size);
        break;
      case kIoctlGetLineRate:
        status = LineRate(out, out_size);
        break;
      case kIoctlGetLineFraming:
        status = LineFraming(out, out_size);
        break;
      default:
        // The adapter's own requests mean nothing to a TTY driver.
        status = IoStatus{
            (code >> 16) == kDeviceTypeAdapter ? kErrorNotSupported : kErrorInvalidFunction, 0};
        break;
    }
  }
  if (completion != nullptr && status.done()) {
    const EventRef event = completion->event;
    completion->count.store(status.count, std::memory_order_relaxed);
    completion->status.store(kErrorSuccess, std::memory_order_release);
    if (event) event->Set();
  }
  return status;
}

IoStatus TtyDevice::Configure(const void* in, uint32_t in_size) {
  LineSettings settings;
  if (!LineSettingsFromBlock(in, in_size, &settings)) return IoStatus{kErrorInvalidParameter, 0};
  const int fd = fd_.get();
  termios t;
  if (tcgetattr(fd, &t) != 0) return IoStatus{FailureOf(errno), 0};
  MakeRawLine(&t);
  ApplyLineSettings(settings, &t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return IoStatus{FailureOf(errno), 0};

  uint32_t actual = 0;
  if (settings.bit_rate > 0) {
    const uint32_t asked = static_cast<uint32_t>(settings.bit_rate);
    if (!SetTtyBitRate(fd, asked, &actual)) {
      // A device that went away meanwhile refused nothing.
      if (IsHangUpErrno(errno)) return IoStatus{kErrorDeviceNotConnected, 0};
      GetTtyBitRate(fd, &actual);
      std::fprintf(stderr, "%s: the driver refused %u bit/s; the line stays at %u bit/s\n",
                   options_.label.c_str(), asked, actual);
      transfers_.SetLinePace(actual, LineBitsPerCharacter(settings));
      return IoStatus{kErrorInvalidParameter, 0};
    }
    // Told, not hidden: the figures of the run are measured against the
    // block's rate, so the user must know the line's own.
    if (actual != asked)
      std::fprintf(stderr, "%s\n", LineRateNotice(options_.label, asked, actual).c_str());
  } else if (!GetTtyBitRate(fd, &actual)) {
    actual = 0;
  }
  termios back;
  if (tcgetattr(fd, &back) == 0 && !LineFramingMatches(settings, back)) {
    std::fprintf(stderr, "%s: the driver did not take %d data bits with parity %s\n",
                 options_.label.c_str(), settings.data_bits,
                 settings.parity == LineParity::kNone  ? "none"
                 : settings.parity == LineParity::kOdd ? "odd"
                                                       : "even");
  }
  transfers_.SetLinePace(actual, LineBitsPerCharacter(settings));
  return IoStatus{kErrorSuccess, 0};
}

IoStatus TtyDevice::ModemLine(unsigned long request, int bits) {
  if (ioctl(fd_.get(), request, &bits) == 0) return IoStatus{kErrorSuccess, 0};
  return IoStatus{IsUnsupported(errno) ? kErrorNotSupported : FailureOf(errno), 0};
}

IoStatus TtyDevice::GetModemLine(int bit, void* out, uint32_t out_size) {
  if (out == nullptr || out_size < 1) return IoStatus{kErrorInvalidParameter, 0};
  int bits = 0;
  if (ioctl(fd_.get(), TIOCMGET, &bits) != 0) {
    return IoStatus{IsUnsupported(errno) ? kErrorNotSupported : FailureOf(errno), 0};
  }
  *static_cast<uint8_t*>(out) = (bits & bit) != 0 ? 1 : 0;
  return IoStatus{kErrorSuccess, 1};
}

IoStatus TtyDevice::LineRate(void* out, uint32_t out_size) {
  if (out == nullptr || out_size < 4) return IoStatus{kErrorInvalidParameter, 0};
  uint32_t rate = 0;
  if (!GetTtyBitRate(fd_.get(), &rate)) return IoStatus{FailureOf(errno), 0};
  EncodeFixed32(static_cast<uint8_t*>(out), rate);
  return IoStatus{kErrorSuccess, 4};
}

IoStatus TtyDevice::LineFraming(void* out, uint32_t out_size) {
  if (out == nullptr || out_size < 4) return IoStatus{kErrorInvalidParameter, 0};
  termios t{};
  if (tcgetattr(fd_.get(), &t) != 0) return IoStatus{FailureOf(errno), 0};
  EncodeFixed32(static_cast<uint8_t*>(out), kStartBitHalves + TtyStopBitHalves(t));
  return IoStatus{kErrorSuccess, 4};
}

uint32_t TtyDevice::ActualBitRate() const {
  std::lock_guard<std::mutex> lock(mu_);
  uint32_t rate = 0;
  if (!open_ || !GetTtyBitRate(fd_.get(), &rate)) return 0;
  return rate;
}

uint32_t TtyDevice::ReadCounters(LineErrorCounters* counters, bool* supported) const {
  serial_icounter_struct icount;
  std::memset(&icount, 0, sizeof(icount));
  *supported = false;
  if (ioctl(fd_.get(), TIOCGICOUNT, &icount) != 0) {
    return IsUnsupported(errno) ? kErrorSuccess : FailureOf(errno);
  }
  *supported = true;
  counters->frame = static_cast<uint32_t>(icount.frame);
  counters->parity = static_cast<uint32_t>(icount.parity);
  counters->overrun = static_cast<uint32_t>(icount.overrun);
  counters->buf_overrun = static_cast<uint32_t>(icount.buf_overrun);
  counters->brk = static_cast<uint32_t>(icount.brk);
  return kErrorSuccess;
}

bool TtyDevice::ClearCommError(uint32_t* errors, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mu_);
  uint32_t code = kErrorSuccess;
  uint32_t mask = 0;
  LineErrorCounters now;
  bool supported = false;
  if (!open_) {
    code = kErrorInvalidHandle;
  } else if (counters_unsupported_) {
    // The driver said at the open that it keeps no counters; it is asked
    // once, not after every packet.
  } else if (!transfers_.hung_up()) {
    code = ReadCounters(&now, &supported);
    if (code == kErrorSuccess && supported) {
      mask = LineErrorMask(counters_, now);
      counters_ = now;
    }
  }
  // A line that is gone raises no line errors: its loss is told once, by
  // the transfers, not after every packet as a failed query.
  if (code == kErrorDeviceNotConnected) code = kErrorSuccess;
  if (error != nullptr) *error = code;
  if (code != kErrorSuccess) return false;
  if (errors != nullptr) *errors = mask;
  return true;
}

bool TtyDevice::Purge(uint32_t flags) { return transfers_.Purge(flags); }

bool TtyDevice::SetCommMask(uint32_t mask) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!open_) return false;
  comm_mask_ = mask;  // kept; a TTY offers no wait-mask request
  return true;
}

void TtyDevice::Close() {
  std::lock_guard<std::mutex> close_lock(close_mu_);
  transfers_.Stop();
  std::lock_guard<std::mutex> lock(mu_);
  if (!open_) return;
  ReleaseLocked();
}

void TtyDevice::ReleaseLocked() {
  open_ = false;
  const int fd = fd_.get();
  // Every completed write has drained, so what the output queue still
  // holds belongs to aborted writes; left there, it would keep the final
  // close waiting (up to the driver's closing_wait, 30 s by default). A
  // pseudo-terminal's queue always reads 0: there a flush would throw away
  // what the far end has not read yet.
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) tcflush(fd, TCOFLUSH);
  if (ldisc_changed_) ioctl(fd, TIOCSETD, &saved_ldisc_);
  if (saved_termios_valid_) {
    tcsetattr(fd, TCSANOW, &saved_termios_);
    // tcsetattr knows only the standard rates; a rate set with BOTHER comes
    // back through termios2.
    uint32_t rate = 0;
    if (saved_rate_ > 0 && GetTtyBitRate(fd, &rate) && rate != saved_rate_)
      SetTtyBitRate(fd, saved_rate_, &rate);
  }
  if (saved_modem_valid_) ioctl(fd, TIOCMSET, &saved_modem_);
  ioctl(fd, TIOCNXCL);
  fd_.Reset();  // releases the flock with it
}

std::shared_ptr<TtyDevice> OpenTtyDevice(const std::string& path, const TtyOpenOptions& options,
                                         std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  problem->clear();
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    // A missing port (or a link that leads nowhere) is no problem to
    // report: the port is simply not there.
    if (errno != ENOENT && errno != ENOTDIR) {
      *problem =
          errno == EBUSY ? "in use (opened exclusively by another program)" : Describe(path, errno);
    }
    return nullptr;
  }
  if (isatty(fd.get()) != 1) {
    *problem = path + " is not a terminal";
    return nullptr;
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    *problem = errno == EWOULDBLOCK ? "in use (locked by another tester or program)"
                                    : Describe("flock", errno);
    return nullptr;
  }
  if (ioctl(fd.get(), TIOCEXCL) != 0) {
    *problem = Describe("TIOCEXCL", errno);
    return nullptr;
  }
  auto device = std::make_shared<TtyDevice>(std::move(fd), options);
  if (!device->SetUp(problem)) {
    device->Close();
    return nullptr;
  }
  return device;
}

}  // namespace quarnex
