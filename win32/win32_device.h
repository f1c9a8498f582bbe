// Win32Device: one port behind the device interface on Windows, through
// the Win32 file and communications calls.
//
// The port is opened with CreateFile(GENERIC_READ | GENERIC_WRITE, no
// sharing, OPEN_EXISTING, FILE_FLAG_OVERLAPPED). Every transfer gets an
// OVERLAPPED record of the device's own (in a Transfer), so the caller's
// Completion never reaches the kernel. The device's handle is tied to an
// I/O completion port, and one completion thread per open device takes
// each finished transfer from it, asks GetOverlappedResult how it ended,
// stores count and status in the caller's Completion, signals its event
// and retires the Transfer.
//
// Two kinds of port:
//   kAdapterDriver  the adapter's own driver ("\\.\QuarnexNN"): control
//                   requests go to it with DeviceIoControl, overlapped;
//                   kIoctlGetLineRate and kIoctlGetLineFraming, which are
//                   ours and not the driver's, fail with
//                   kErrorInvalidFunction (the adapter's line is
//                   synchronous).
//   kCommPort       an ordinary COM port (a device map entry such as
//                   "\\.\COM5"). The open saves its DCB and timeouts and
//                   makes the line raw; Close restores them. The requests
//                   are answered here, at once, like the TTY backend does:
//                   the block sets rate, character size, parity and
//                   handshake (comm_settings.h) with SetCommState, with
//                   timeouts under which a read of N bytes completes only
//                   when N bytes came; DTR and RTS with EscapeCommFunction,
//                   CTS and DCD from GetCommModemStatus, kIoctlGetLineRate
//                   and kIoctlGetLineFraming (start and stop bits) from
//                   the DCB; the two values are accepted; the
//                   adapter's other requests fail with kErrorNotSupported.
//
// A transfer that the kernel finishes at once is reported as pending: its
// completion still comes through the completion port, and only the
// completion thread touches the caller's Completion. A failure at once
// queues nothing and is returned at once.
//
// Purge calls PurgeComm and, for the abort flags, also cancels (CancelIoEx)
// the device's outstanding transfers of that direction (writes and control
// requests for kPurgeTxAbort, reads for kPurgeRxAbort) and waits until the
// completion thread has retired every one of them. Close cancels every
// outstanding transfer and waits the same way before it closes the handle.
// So when Purge or Close returns, the device no longer touches any aborted
// transfer's buffer or Completion (device.h).
//
// A device that is gone (an unplugged USB adapter) ends its transfers with
// one of a few errors; the first turns the device into a lost one: that
// transfer and every later one fail with kErrorDeviceNotConnected, at once.
//
// Thread-safety: every method may be called from any thread at any time,
// also concurrently and after Close (then calls fail with
// kErrorInvalidHandle). Buffer lifetime and cancellation as in device.h.
#ifndef QUARNEX_WIN32_WIN32_DEVICE_H_
#define QUARNEX_WIN32_WIN32_DEVICE_H_

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "testapp/driver/device.h"
#include "win32/unique_handle.h"

namespace quarnex {

enum class Win32PortKind { kAdapterDriver, kCommPort };

struct Win32OpenOptions {
  Win32PortKind kind = Win32PortKind::kCommPort;
  // How the port is named in messages, e.g. "Quarnex01".
  std::string label;
};

class Win32Device : public Device {
 public:
  // Use OpenWin32Device.
  Win32Device(UniqueHandle handle, const Win32OpenOptions& options);
  ~Win32Device() override;

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

 private:
  friend std::shared_ptr<Win32Device> OpenWin32Device(const std::string&, const Win32OpenOptions&,
                                                      std::string*);
  enum class Direction { kRead, kWrite, kControl };
  // One transfer the kernel holds. `overlapped` comes first, so the record
  // is found from the OVERLAPPED pointer the completion port hands back.
  struct Transfer {
    OVERLAPPED overlapped{};
    Completion* completion = nullptr;
    EventRef event;
    Direction direction = Direction::kRead;
  };

  // The open's set-up: the completion port and thread and, for a COM
  // port, the raw line. False with *problem set.
  bool SetUp(std::string* problem);
  // Starts one overlapped transfer with `issue(overlapped)`, which makes
  // the Win32 call and returns its BOOL.
  template <typename Issue>
  IoStatus Start(Direction direction, Completion* completion, Issue issue);
  void CompletionLoop();
  // Cancels the outstanding transfers `which` selects and waits until all
  // of them are retired. Caller holds no lock.
  template <typename Which>
  void CancelAndWait(Which which);
  // Requests of a COM port, answered at once; mu_ held.
  IoStatus CommControl(uint32_t code, const void* in, uint32_t in_size, void* out,
                       uint32_t out_size);
  IoStatus ConfigureComm(const void* in, uint32_t in_size);
  // The device's code for a failed Win32 call; notes a lost device.
  uint32_t FailureOf(DWORD error);

  const Win32OpenOptions options_;
  UniqueHandle handle_;  // reset by Close, once nothing is outstanding
  UniqueHandle port_;    // the completion port
  std::thread completion_thread_;
  std::atomic<bool> gone_{false};

  std::mutex close_mu_;  // serialises Close

  mutable std::mutex mu_;            // guards the members below
  std::condition_variable retired_;  // a Transfer was retired
  bool open_ = true;
  std::map<Transfer*, std::unique_ptr<Transfer>> outstanding_;
  DCB saved_dcb_{};
  COMMTIMEOUTS saved_timeouts_{};
  bool saved_valid_ = false;
};

// Opens `path` as a port. Returns null when it cannot be used; then
// *problem (when not null) says why, and stays empty when nothing is there
// (no such device), which is no problem but an absent port.
std::shared_ptr<Win32Device> OpenWin32Device(const std::string& path,
                                             const Win32OpenOptions& options, std::string* problem);

// The path Windows opens for a device map's PATH: "COM5" becomes
// "\\.\COM5" (the only form that reaches COM10 and up); a path with a
// backslash or a slash is taken as it is.
std::string Win32DevicePath(const std::string& path);

// Whether `path` names the adapter's own driver, "\\.\Quarnex" and digits
// (letters in any case).
bool IsAdapterDriverPath(const std::string& path);

}  // namespace quarnex

#endif  // QUARNEX_WIN32_WIN32_DEVICE_H_
