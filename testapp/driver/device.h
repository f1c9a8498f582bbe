// The device interface: one port of the adapter, whatever backend serves it.
//
// It keeps the driver's semantics rather than the Windows spelling.
// Transfers (Read, Write, Control) are started with a Completion record and
// either finish at once, go pending, or fail at once. A pending transfer
// signals its record's event when it completes, and Result() tells how it
// ended. Purge and Close end every outstanding transfer as aborted (995).
//
// Thread-safety: every method may be called from any thread at any time,
// also concurrently and after Close (calls after Close fail with
// kErrorInvalidHandle).
//
// Buffer lifetime: the buffer and the Completion record of a transfer that
// went pending must stay valid until the transfer completed (its event was
// signalled, or Result() no longer reports kErrorIoIncomplete) or was aborted
// by Purge or Close. Cancellation is synchronous: once Purge or Close has
// returned, the device no longer touches the buffer or the record of any
// transfer it aborted. The record's event is held by shared ownership, so a
// late signal never reaches a destroyed event.
//
// This interface is meant to be implemented by backends (the simulated
// adapter, real serial ports) and by recording fakes in tests.
#ifndef QUARNEX_DRIVER_DEVICE_H_
#define QUARNEX_DRIVER_DEVICE_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "testapp/platform/event.h"

namespace quarnex {

// Error codes, with the values the original driver reports.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoIncomplete = 996;
inline constexpr uint32_t kErrorIoPending = 997;
// The device is gone (a hang-up, an unplugged adapter, a simulated unplug):
// every pending transfer fails with it, and so does every later one, at
// once. The engine ends the port at the first.
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// PurgeComm flags.
inline constexpr uint32_t kPurgeTxAbort = 0x01;
inline constexpr uint32_t kPurgeRxAbort = 0x02;
inline constexpr uint32_t kPurgeTxClear = 0x04;
inline constexpr uint32_t kPurgeRxClear = 0x08;
inline constexpr uint32_t kPurgeAll = 0x0F;

// Line-error flags of ClearCommError.
inline constexpr uint32_t kCeRxOver = 0x0001;
inline constexpr uint32_t kCeOverrun = 0x0002;
inline constexpr uint32_t kCeRxParity = 0x0004;
inline constexpr uint32_t kCeFrame = 0x0008;
inline constexpr uint32_t kCeBreak = 0x0010;
inline constexpr uint32_t kCeTxFull = 0x0100;
inline constexpr uint32_t kCeMode = 0x8000;

// The control record of one transfer (the OVERLAPPED of the original).
// The caller owns it and sets `event` (may be null: nobody is signalled)
// before starting the transfer; the device fills the rest. The device
// stores `count`, then `status` (release), then signals `event`.
struct Completion {
  EventRef event;
  std::atomic<uint32_t> status{kErrorSuccess};  // kErrorIoIncomplete while pending
  std::atomic<uint32_t> count{0};
  // Opaque to callers: backends may keep their bookkeeping here.
  std::atomic<uint64_t> tag{0};

  Completion() = default;
  explicit Completion(EventRef e) : event(std::move(e)) {}
  Completion(const Completion&) = delete;
  Completion& operator=(const Completion&) = delete;
};

// How a transfer started or ended. error 0: done, with `count` bytes.
// On start, kErrorIoPending: pending; anything else: failed at once.
// From Result(): kErrorOperationAborted, kErrorIoIncomplete (still in
// progress) or another failure.
struct IoStatus {
  uint32_t error = kErrorSuccess;
  uint32_t count = 0;

  bool done() const { return error == kErrorSuccess; }
  bool pending() const { return error == kErrorIoPending; }
};

class Device {
 public:
  virtual ~Device() = default;

  // Starts reading up to `length` bytes into `buffer`.
  virtual IoStatus Read(void* buffer, uint32_t length, Completion* completion) = 0;
  // Starts writing `length` bytes from `data`.
  virtual IoStatus Write(const void* data, uint32_t length, Completion* completion) = 0;
  // Sends control request `code`. With completion == nullptr the call is
  // synchronous: it returns once the request finished (or the device was
  // closed). `out` receives at most out_size bytes; for requests whose output
  // shares the input buffer, pass the same pointer as in and out.
  virtual IoStatus Control(uint32_t code, const void* in, uint32_t in_size, void* out,
                           uint32_t out_size, Completion* completion) = 0;
  // How the transfer of `completion` ended, without waiting.
  virtual IoStatus Result(const Completion& completion) {
    const uint32_t status = completion.status.load(std::memory_order_acquire);
    return IoStatus{status,
                    status == kErrorSuccess ? completion.count.load(std::memory_order_relaxed) : 0};
  }
  // Returns the line-error mask gathered since the last call and clears it.
  // False (with *error set) when the query failed.
  virtual bool ClearCommError(uint32_t* errors, uint32_t* error) = 0;
  // Discards buffered data and, with the abort flags, ends every outstanding
  // transfer as aborted.
  virtual bool Purge(uint32_t flags) = 0;
  virtual bool SetCommMask(uint32_t mask) = 0;
  // Ends every outstanding transfer as aborted and releases the port. Safe to
  // call more than once; later calls do nothing.
  virtual void Close() = 0;
};

using DeviceRef = std::shared_ptr<Device>;

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_DEVICE_H_
