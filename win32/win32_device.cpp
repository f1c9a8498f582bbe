#include "win32/win32_device.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <utility>

#include "testapp/driver/control_codes.h"
#include "testapp/driver/line_rate.h"
#include "testapp/driver/run_to_end.h"
#include "testapp/platform/byte_order.h"
#include "win32/comm_settings.h"

namespace quarnex {

namespace {

// The completion port's key that tells the completion thread to end.
constexpr ULONG_PTR kQuitKey = 1;
// How often a cancel is repeated while a transfer is still being issued.
constexpr auto kCancelRetry = std::chrono::milliseconds(10);

// Errors with which Windows ends the transfers of a device that is gone.
constexpr DWORD kErrorNoSuchDevice = 433;  // not in every SDK's headers
bool IsGoneError(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case kErrorNoSuchDevice:
    case ERROR_BAD_COMMAND:  // an unplugged USB serial adapter
      return true;
    default:
      return false;
  }
}

bool IsUnsupportedError(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER ||
         error == ERROR_INVALID_FUNCTION;
}

std::string Describe(const std::string& what, DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof(text), nullptr);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "error " + std::to_string(error);
  return what + ": " + message;
}

}  // namespace

Win32Device::Win32Device(UniqueHandle handle, const Win32OpenOptions& options)
    : options_(options), handle_(std::move(handle)) {}

Win32Device::~Win32Device() { Close(); }

bool Win32Device::SetUp(std::string* problem) {
  if (options_.kind == Win32PortKind::kCommPort) {
    std::lock_guard<std::mutex> lock(mu_);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(handle_.get(), &dcb)) {
      *problem = options_.label + " is not a serial port";
      return false;
    }
    saved_dcb_ = dcb;
    saved_valid_ = GetCommTimeouts(handle_.get(), &saved_timeouts_) != FALSE;
    MakeRawDcb(&dcb);
    COMMTIMEOUTS whole = WholeTransferTimeouts();
    if (!SetCommState(handle_.get(), &dcb) || !SetCommTimeouts(handle_.get(), &whole)) {
      *problem = Describe("cannot set raw mode", GetLastError());
      return false;
    }
    // What waited in the buffers belongs to whoever used the port before.
    PurgeComm(handle_.get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
  }
  port_.Reset(CreateIoCompletionPort(handle_.get(), nullptr, 0, 1));
  if (!port_.valid()) {
    *problem = Describe("cannot make its completion port", GetLastError());
    return false;
  }
  completion_thread_ = std::thread([this] { CompletionLoop(); });
  return true;
}

uint32_t Win32Device::FailureOf(DWORD error) {
  if (gone_.load(std::memory_order_acquire) || IsGoneError(error)) {
    gone_.store(true, std::memory_order_release);
    return kErrorDeviceNotConnected;
  }
  return error == ERROR_SUCCESS ? kErrorGenFailure : static_cast<uint32_t>(error);
}

template <typename Issue>
IoStatus Win32Device::Start(Direction direction, Completion* completion, Issue issue) {
  if (completion->event) completion->event->Reset();
  completion->count.store(0, std::memory_order_relaxed);
  auto transfer = std::make_unique<Transfer>();
  Transfer* t = transfer.get();
  t->completion = completion;
  t->event = completion->event;
  t->direction = direction;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_) return IoStatus{kErrorInvalidHandle, 0};
    if (gone_.load(std::memory_order_acquire)) return IoStatus{kErrorDeviceNotConnected, 0};
    completion->status.store(kErrorIoIncomplete, std::memory_order_release);
    outstanding_.emplace(t, std::move(transfer));
  }
  // Issued without the lock: a driver may take its time to queue a
  // request. Close keeps the handle until this record is retired.
  if (issue(&t->overlapped) || GetLastError() == ERROR_IO_PENDING) {
    // Done at once or not: the completion port hears of it, and from here
    // on only the completion thread touches the record.
    return IoStatus{kErrorIoPending, 0};
  }
  const uint32_t failure = FailureOf(GetLastError());
  completion->status.store(failure, std::memory_order_release);
  std::lock_guard<std::mutex> lock(mu_);
  outstanding_.erase(t);
  retired_.notify_all();
  return IoStatus{failure, 0};
}

void Win32Device::CompletionLoop() {
  for (;;) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    GetQueuedCompletionStatus(port_.get(), &bytes, &key, &overlapped, INFINITE);
    if (overlapped == nullptr) {
      if (key == kQuitKey) return;
      continue;
    }
    auto* t = reinterpret_cast<Transfer*>(overlapped);
    DWORD count = 0;
    uint32_t status = kErrorSuccess;
    if (!GetOverlappedResult(handle_.get(), overlapped, &count, FALSE)) {
      const DWORD error = GetLastError();
      status = error == ERROR_OPERATION_ABORTED ? kErrorOperationAborted : FailureOf(error);
      count = 0;
    }
    // Count, then status, then the signal; the record goes last, so that
    // Purge and Close return only once the Completion is no longer touched.
    t->completion->count.store(count, std::memory_order_relaxed);
    t->completion->status.store(status, std::memory_order_release);
    if (t->event) t->event->Set();
    std::lock_guard<std::mutex> lock(mu_);
    outstanding_.erase(t);
    retired_.notify_all();
  }
}

template <typename Which>
void Win32Device::CancelAndWait(Which which) {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    bool any = false;
    for (const auto& [t, owned] : outstanding_) {
      if (!which(*t)) continue;
      any = true;
      CancelIoEx(handle_.get(), &t->overlapped);
    }
    if (!any) return;
    // A record still being issued cannot be cancelled yet: ask again.
    retired_.wait_for(lock, kCancelRetry);
  }
}

IoStatus Win32Device::Read(void* buffer, uint32_t length, Completion* completion) {
  if (completion == nullptr) {
    return RunToEnd(this, [&](Completion* c) { return Read(buffer, length, c); });
  }
  return Start(Direction::kRead, completion, [&](OVERLAPPED* overlapped) {
    return ReadFile(handle_.get(), buffer, length, nullptr, overlapped);
  });
}

IoStatus Win32Device::Write(const void* data, uint32_t length, Completion* completion) {
  if (completion == nullptr) {
    return RunToEnd(this, [&](Completion* c) { return Write(data, length, c); });
  }
  return Start(Direction::kWrite, completion, [&](OVERLAPPED* overlapped) {
    return WriteFile(handle_.get(), data, length, nullptr, overlapped);
  });
}

IoStatus Win32Device::Control(uint32_t code, const void* in, uint32_t in_size, void* out,
                              uint32_t out_size, Completion* completion) {
  // The line requests are ours: the adapter's driver never sees them.
  if (options_.kind == Win32PortKind::kAdapterDriver && code != kIoctlGetLineRate &&
      code != kIoctlGetLineFraming) {
    if (completion == nullptr) {
      return RunToEnd(this,
                      [&](Completion* c) { return Control(code, in, in_size, out, out_size, c); });
    }
    return Start(Direction::kControl, completion, [&](OVERLAPPED* overlapped) {
      return DeviceIoControl(handle_.get(), code, const_cast<void*>(in), in_size, out, out_size,
                             nullptr, overlapped);
    });
  }
  if (completion != nullptr && completion->event) completion->event->Reset();
  IoStatus status;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_) return IoStatus{kErrorInvalidHandle, 0};
    status = options_.kind == Win32PortKind::kAdapterDriver
                 ? IoStatus{kErrorInvalidFunction, 0}
                 : CommControl(code, in, in_size, out, out_size);
  }
  if (completion != nullptr && status.done()) {
    const EventRef event = completion->event;
    completion->count.store(status.count, std::memory_order_relaxed);
    completion->status.store(kErrorSuccess, std::memory_order_release);
    if (event) event->Set();
  }
  return status;
}

IoStatus Win32Device::CommControl(uint32_t code, const void* in, uint32_t in_size, void* out,
                                  uint32_t out_size) {
  const bool reaches_port =
      code == kIoctlSetConfiguration || code == kIoctlSetDtr || code == kIoctlClearDtr ||
      code == kIoctlSetRts || code == kIoctlClearRts || code == kIoctlGetCts ||
      code == kIoctlGetDcd || code == kIoctlGetLineRate || code == kIoctlGetLineFraming;
  if (reaches_port && gone_.load(std::memory_order_acquire)) {
    return IoStatus{kErrorDeviceNotConnected, 0};
  }
  const HANDLE h = handle_.get();
  auto escape = [&](DWORD function) {
    if (EscapeCommFunction(h, function)) return IoStatus{kErrorSuccess, 0};
    const DWORD error = GetLastError();
    return IoStatus{IsUnsupportedError(error) ? kErrorNotSupported : FailureOf(error), 0};
  };
  auto modem_line = [&](DWORD bit) {
    if (out == nullptr || out_size < 1) return IoStatus{kErrorInvalidParameter, 0};
    DWORD lines = 0;
    if (!GetCommModemStatus(h, &lines)) {
      const DWORD error = GetLastError();
      return IoStatus{IsUnsupportedError(error) ? kErrorNotSupported : FailureOf(error), 0};
    }
    *static_cast<uint8_t*>(out) = (lines & bit) != 0 ? 1 : 0;
    return IoStatus{kErrorSuccess, 1};
  };
  switch (code) {
    case kIoctlSetConfiguration:
      return ConfigureComm(in, in_size);
    case kIoctlSetTwoValues:
      return IoStatus{kErrorSuccess, 0};  // no meaning on a COM port
    case kIoctlSetDtr:
      return escape(SETDTR);
    case kIoctlClearDtr:
      return escape(CLRDTR);
    case kIoctlSetRts:
      return escape(SETRTS);
    case kIoctlClearRts:
      return escape(CLRRTS);
    case kIoctlGetCts:
      return modem_line(MS_CTS_ON);
    case kIoctlGetDcd:
      return modem_line(MS_RLSD_ON);
    case kIoctlGetLineRate: {
      if (out == nullptr || out_size < 4) return IoStatus{kErrorInvalidParameter, 0};
      DCB dcb{};
      dcb.DCBlength = sizeof(dcb);
      if (!GetCommState(h, &dcb)) return IoStatus{FailureOf(GetLastError()), 0};
      EncodeFixed32(static_cast<uint8_t*>(out), dcb.BaudRate);
      return IoStatus{kErrorSuccess, 4};
    }
    case kIoctlGetLineFraming: {
      if (out == nullptr || out_size < 4) return IoStatus{kErrorInvalidParameter, 0};
      DCB dcb{};
      dcb.DCBlength = sizeof(dcb);
      if (!GetCommState(h, &dcb)) return IoStatus{FailureOf(GetLastError()), 0};
      // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS: 2, 3 and 4 half bits.
      const uint32_t stop_halves = dcb.StopBits == ONE5STOPBITS  ? 3
                                   : dcb.StopBits == TWOSTOPBITS ? 4
                                                                 : 2;
      EncodeFixed32(static_cast<uint8_t*>(out), kStartBitHalves + stop_halves);
      return IoStatus{kErrorSuccess, 4};
    }
    default:
      // The adapter's own requests mean nothing to a COM port.
      return IoStatus{
          (code >> 16) == kDeviceTypeAdapter ? kErrorNotSupported : kErrorInvalidFunction, 0};
  }
}

IoStatus Win32Device::ConfigureComm(const void* in, uint32_t in_size) {
  LineSettings settings;
  if (!LineSettingsFromBlock(in, in_size, &settings)) return IoStatus{kErrorInvalidParameter, 0};
  const HANDLE h = handle_.get();
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(h, &dcb)) return IoStatus{FailureOf(GetLastError()), 0};
  MakeRawDcb(&dcb);
  ApplyCommSettings(settings, &dcb);
  COMMTIMEOUTS whole = WholeTransferTimeouts();
  if (!SetCommState(h, &dcb)) {
    const DWORD error = GetLastError();
    if (IsGoneError(error)) return IoStatus{FailureOf(error), 0};
    std::fprintf(stderr, "%s: the driver refused %u bit/s, %d data bits with parity %s\n",
                 options_.label.c_str(), static_cast<unsigned>(dcb.BaudRate), settings.data_bits,
                 settings.parity == LineParity::kNone  ? "none"
                 : settings.parity == LineParity::kOdd ? "odd"
                                                       : "even");
    return IoStatus{kErrorInvalidParameter, 0};
  }
  if (!SetCommTimeouts(h, &whole)) return IoStatus{FailureOf(GetLastError()), 0};
  // Told, not hidden: the figures of the run are measured against the
  // block's rate, so the user must know the line's own.
  DCB back{};
  back.DCBlength = sizeof(back);
  if (settings.bit_rate > 0 && GetCommState(h, &back) &&
      back.BaudRate != static_cast<DWORD>(settings.bit_rate)) {
    std::fprintf(
        stderr, "%s\n",
        LineRateNotice(options_.label, static_cast<uint32_t>(settings.bit_rate), back.BaudRate)
            .c_str());
  }
  return IoStatus{kErrorSuccess, 0};
}

bool Win32Device::ClearCommError(uint32_t* errors, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mu_);
  uint32_t code = kErrorSuccess;
  DWORD mask = 0;
  if (!open_) {
    code = kErrorInvalidHandle;
  } else if (!gone_.load(std::memory_order_acquire)) {
    COMSTAT stat{};
    if (!::ClearCommError(handle_.get(), &mask, &stat)) {
      code = FailureOf(GetLastError());
      mask = 0;
    }
  }
  // A line that is gone raises no line errors: its loss is told once, by
  // the transfers.
  if (code == kErrorDeviceNotConnected) code = kErrorSuccess;
  if (error != nullptr) *error = code;
  if (code != kErrorSuccess) return false;
  if (errors != nullptr) *errors = mask;
  return true;
}

bool Win32Device::Purge(uint32_t flags) {
  bool purged = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_) return false;
    purged = PurgeComm(handle_.get(), flags) != FALSE;
  }
  // The driver's abort may complete the transfers later than its return;
  // ours are cancelled and waited for here.
  const bool tx = (flags & kPurgeTxAbort) != 0;
  const bool rx = (flags & kPurgeRxAbort) != 0;
  if (tx || rx) {
    CancelAndWait(
        [tx, rx](const Transfer& t) { return t.direction == Direction::kRead ? rx : tx; });
  }
  return purged;
}

bool Win32Device::SetCommMask(uint32_t mask) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!open_) return false;
  return ::SetCommMask(handle_.get(), mask) != FALSE;
}

void Win32Device::Close() {
  std::lock_guard<std::mutex> close_lock(close_mu_);
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_) return;
    open_ = false;  // no transfer starts from here on
  }
  CancelAndWait([](const Transfer&) { return true; });
  if (completion_thread_.joinable()) {
    PostQueuedCompletionStatus(port_.get(), 0, kQuitKey, nullptr);
    completion_thread_.join();
  }
  std::lock_guard<std::mutex> lock(mu_);
  if (saved_valid_) {
    SetCommState(handle_.get(), &saved_dcb_);
    SetCommTimeouts(handle_.get(), &saved_timeouts_);
  }
  port_.Reset();
  handle_.Reset();
}

std::shared_ptr<Win32Device> OpenWin32Device(const std::string& path,
                                             const Win32OpenOptions& options,
                                             std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  problem->clear();
  UniqueHandle handle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                  nullptr));
  if (!handle.valid()) {
    const DWORD error = GetLastError();
    // A missing adapter port is simply not there; a COM port the user
    // named is said to be missing, so the message shows what was tried.
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    if (missing && options.kind == Win32PortKind::kCommPort) {
      *problem = path + ": not found";
    } else if (!missing) {
      *problem = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                     ? "in use (opened by another program)"
                     : Describe(path, error);
    }
    return nullptr;
  }
  auto device = std::make_shared<Win32Device>(std::move(handle), options);
  if (!device->SetUp(problem)) {
    device->Close();
    return nullptr;
  }
  return device;
}

std::string Win32DevicePath(const std::string& path) {
  if (path.find_first_of("\\/") != std::string::npos) return path;
  return "\\\\.\\" + path;
}

bool IsAdapterDriverPath(const std::string& path) {
  static constexpr char kPrefix[] = "\\\\.\\quarnex";
  constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;
  if (path.size() <= kPrefixLength) return false;
  for (size_t i = 0; i < kPrefixLength; ++i) {
    if (std::tolower(static_cast<unsigned char>(path[i])) != kPrefix[i]) return false;
  }
  for (size_t i = kPrefixLength; i < path.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(path[i]))) return false;
  }
  return true;
}

}  // namespace quarnex
