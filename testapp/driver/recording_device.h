// RecordingDevice: a scriptable fake of the device interface for tests.
//
// It records every request it receives, answers transfers as the test
// scripts them (done at once, pending, failed at once), and lets the test
// complete pending transfers in order. Purge and Close abort every pending
// transfer with kErrorOperationAborted, synchronously. Thread-safe.
#ifndef QUARNEX_DRIVER_RECORDING_DEVICE_H_
#define QUARNEX_DRIVER_RECORDING_DEVICE_H_

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "testapp/driver/device.h"

namespace quarnex {

class RecordingDevice : public Device {
 public:
  enum class Op { kRead, kWrite, kControl };

  // How the next transfer of a kind is answered.
  struct Answer {
    enum Kind { kDone, kPending, kFail } kind = kDone;
    uint32_t error = kErrorSuccess;  // kFail: the error code
    int64_t count = -1;              // kDone: bytes moved; -1 = all requested
    std::vector<uint8_t> data;       // reads and control output: bytes delivered
  };

  struct Request {
    Op op;
    uint32_t code = 0;           // control requests
    std::vector<uint8_t> input;  // control input or written bytes
    uint32_t length = 0;         // read/write length or control out_size
    bool overlapped = false;     // a Completion was given
  };

  // Queues the answer for the next transfer of `op`. Without a queued answer
  // writes and controls complete at once in full, reads complete at once in
  // full with zero bytes.
  void Script(Op op, Answer answer);
  // Completes the oldest pending transfer of `op` with `error` and `data`
  // (reads and controls copy data to the caller's buffer; count = data size
  // or `count` when given) and signals its event. False if none is pending.
  bool CompleteNext(Op op, uint32_t error = kErrorSuccess, std::vector<uint8_t> data = {},
                    int64_t count = -1);
  size_t PendingCount(Op op) const;

  std::vector<Request> Requests() const;
  int PurgeCount() const;
  uint32_t LastPurgeFlags() const;
  int CloseCount() const;
  std::vector<uint32_t> CommMasks() const;
  // Next ClearCommError answers: mask, or failure when ok is false.
  void SetCommErrors(uint32_t mask, bool ok = true);

  IoStatus Read(void* buffer, uint32_t length, Completion* completion) override;
  IoStatus Write(const void* data, uint32_t length, Completion* completion) override;
  IoStatus Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                   Completion* completion) override;
  bool ClearCommError(uint32_t* errors, uint32_t* error) override;
  bool Purge(uint32_t flags) override;
  bool SetCommMask(uint32_t mask) override;
  void Close() override;

 private:
  struct Pending {
    Op op;
    void* out;
    uint32_t out_size;
    Completion* completion;
  };
  IoStatus Start(Op op, Request request, void* out, uint32_t out_size, Completion* completion);
  void AbortAllLocked();

  mutable std::mutex mu_;
  std::deque<Answer> answers_[3];  // guarded by mu_
  std::deque<Pending> pending_;    // guarded by mu_
  std::vector<Request> requests_;  // guarded by mu_
  std::vector<uint32_t> comm_masks_;
  int purges_ = 0;
  uint32_t last_purge_flags_ = 0;
  int closes_ = 0;
  bool closed_ = false;
  uint32_t comm_errors_ = 0;
  bool comm_ok_ = true;
};

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_RECORDING_DEVICE_H_
