// The control-request exerciser: its request table and the loop of its
// thread.
#include "testapp/engine/exerciser.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "testapp/driver/control_codes.h"
#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transmitter.h"
#include "testapp/platform/byte_order.h"
#include "testapp/report/results_view.h"
#include "testapp/report/text_format.h"
#include "testapp/settings/config_block.h"

namespace quarnex {

namespace {

constexpr char kEventErrorText[] = "Cannot create event for IOCTL.";
constexpr char kWaitMaskFormat[] = "IOCTL4 WaitMask 0x%x";
constexpr char kByteValueFormat[] = "IOCTL %x  value 0x%2.2x";

// Indices of the wait set: the completion first, so that it wins when both
// are signalled.
constexpr int kCompletionSignalled = 0;

// The request buffers of the thread. All of them lie in one block, so that
// one allocation (and, for an extra copy, one memcpy) carries them. Requests
// 2 and 4 answer in the buffer that carried their input.
enum BufferSlot : uint8_t {
  kNoBuffer,
  kConfigBuffer,     // the 338-byte output of request 1
  kByteBuffer,       // request 2's byte
  kThreeByteBuffer,  // request 3's input
  kWordBuffer,       // request 4's 32-bit mask
  kEightByteBuffer,  // the two 32-bit values of requests 21 and 22
  kValueBuffer,      // the 1-byte answer of requests 14..16, 24, 25
};

struct SlotPlace {
  uint32_t offset;
  uint32_t size;
};

constexpr uint32_t kConfigOffset = 0;
constexpr uint32_t kByteOffset = kConfigOffset + kConfigBlockSize;
constexpr uint32_t kThreeByteOffset = kByteOffset + 1;
constexpr uint32_t kWordOffset = kThreeByteOffset + 3;
constexpr uint32_t kEightByteOffset = kWordOffset + 4;
constexpr uint32_t kValueOffset = kEightByteOffset + 8;
constexpr uint32_t kBufferBlockSize = kValueOffset + 1;

// Indexed by BufferSlot.
constexpr SlotPlace kSlots[] = {
    {0, 0},
    {kConfigOffset, kConfigBlockSize},
    {kByteOffset, 1},
    {kThreeByteOffset, 3},
    {kWordOffset, 4},
    {kEightByteOffset, 8},
    {kValueOffset, 1},
};

// What CellText becomes once a pending request has completed.
enum ValueText : uint8_t {
  kNoValueText,
  kWaitMaskText,   // kWaitMaskFormat with the 32-bit buffer
  kByteValueText,  // kByteValueFormat with the code and the value byte
};

constexpr size_t kMaxInputBytes = 8;

struct IoctlRequest {
  uint32_t code;
  BufferSlot input;
  // Written into the input buffer before every request (32-bit values
  // little-endian, as the driver reads them).
  uint8_t input_bytes[kMaxInputBytes];
  BufferSlot output;
  const char* label;  // null: CellText keeps its text
  ValueText value_text;
};

// Indexed by IoctlIndex - 1.
constexpr IoctlRequest kRequests[] = {
    {0x80002004, kNoBuffer, {}, kConfigBuffer, "IOCTL 1", kNoValueText},
    {0x80006008, kByteBuffer, {12}, kByteBuffer, "IOCTL 2", kNoValueText},
    {0x8000A00C, kThreeByteBuffer, {15, 1, 0}, kNoBuffer, "IOCTL 3", kNoValueText},
    {0x80002010, kWordBuffer, {0x00, 0x02, 0x00, 0x00}, kWordBuffer, nullptr, kWaitMaskText},
    {0x80002014, kNoBuffer, {}, kNoBuffer, "IOCTL 5", kNoValueText},
    {0x80002018, kNoBuffer, {}, kNoBuffer, "IOCTL 6", kNoValueText},
    {0x8000201C, kNoBuffer, {}, kNoBuffer, "IOCTL 7", kNoValueText},
    {0x80002020, kNoBuffer, {}, kNoBuffer, "IOCTL 8", kNoValueText},
    {0x80002024, kNoBuffer, {}, kNoBuffer, "IOCTL 9", kNoValueText},
    {0x80002028, kNoBuffer, {}, kNoBuffer, "IOCTL 10", kNoValueText},
    {0x8000202C, kNoBuffer, {}, kNoBuffer, "IOCTL 11", kNoValueText},
    {0x80002030, kNoBuffer, {}, kNoBuffer, "IOCTL 12", kNoValueText},
    {0x80002034, kNoBuffer, {}, kNoBuffer, "IOCTL 13", kNoValueText},
    {0x80002038, kNoBuffer, {}, kValueBuffer, nullptr, kByteValueText},
    {0x8000203C, kNoBuffer, {}, kValueBuffer, nullptr, kByteValueText},
    {0x80002040, kNoBuffer, {}, kValueBuffer, nullptr, kByteValueText},
    {0x80002044, kNoBuffer, {}, kNoBuffer, "IOCTL 17", kNoValueText},
    {0x80002048, kNoBuffer, {}, kNoBuffer, "IOCTL 18", kNoValueText},
    {0x8000204C, kNoBuffer, {}, kNoBuffer, "IOCTL 19", kNoValueText},
    {0x80002050, kNoBuffer, {}, kNoBuffer, "IOCTL 20", kNoValueText},
    {0x80002054, kEightByteBuffer, {10, 0, 0, 0, 5, 0, 0, 0}, kNoBuffer, "IOCTL 21", kNoValueText},
    {0x80002058, kNoBuffer, {}, kEightByteBuffer, "IOCTL 22", kNoValueText},
    {0x8000205C, kNoBuffer, {}, kNoBuffer, "IOCTL 23", kNoValueText},
    {0x80002070, kNoBuffer, {}, kValueBuffer, nullptr, kByteValueText},
    {0x80002074, kNoBuffer, {}, kValueBuffer, nullptr, kByteValueText},
};

static_assert(std::size(kRequests) == kLastIoctlIndex - kFirstIoctlIndex + 1);

// Indices 1..23 are the driver's requests 1..23; 24 and 25 its CTS and DCD
// queries, 28 and 29.
constexpr bool CodesMatchTheDriversRequests() {
  for (uint32_t i = 0; i < std::size(kRequests); ++i) {
    const uint32_t n = i < 23 ? i + 1 : i + 5;
    if (kRequests[i].code != AdapterRequest(n)) return false;
  }
  return true;
}
static_assert(CodesMatchTheDriversRequests());

const IoctlRequest* FindRequest(int32_t index) {
  if (index < kFirstIoctlIndex || index > kLastIoctlIndex) return nullptr;
  return &kRequests[index - kFirstIoctlIndex];
}

uint8_t* SlotData(uint8_t* block, BufferSlot slot) {
  return slot == kNoBuffer ? nullptr : block + kSlots[slot].offset;
}

// Sets the request's input values again; the buffers keep whatever earlier
// answers left in them otherwise.
void PrepareInput(const IoctlRequest& request, uint8_t* block) {
  if (request.input == kNoBuffer) return;
  std::memcpy(SlotData(block, request.input), request.input_bytes, kSlots[request.input].size);
}

IoStatus SendRequest(Device* device, const IoctlRequest& request, uint8_t* block,
                     Completion* record) {
  // ClosePort leaves no device: the request fails at once, as it does on a
  // closed handle.
  if (device == nullptr) return IoStatus{kErrorInvalidHandle, 0};
  return device->Control(request.code, SlotData(block, request.input), kSlots[request.input].size,
                         SlotData(block, request.output), kSlots[request.output].size, record);
}

// Queues the extra copies of the request when OverlapIoctl asks for them:
// NumberOverlap taken as unsigned, at most kMaxOverlap. One completion
// record may carry only one outstanding transfer, and a copy that is still
// pending must never write into buffers the thread reads or rewrites, so
// each copy gets a record (without event: nobody waits for it) and a copy
// of the prepared buffers of its own. The pending ones go to the orphan
// list, which keeps them until the device has finished with them.
void QueueExtraCopies(PortContext& port, const IoctlRequest& request, const uint8_t* block) {
  const TesterOptions& options = port.Run->options;
  if (options.OverlapIoctl.load() == 0) return;
  const uint32_t count = std::min(static_cast<uint32_t>(options.NumberOverlap.load()),
                                  static_cast<uint32_t>(kMaxOverlap));
  if (count == 0) return;
  port.Orphans.Sweep();
  for (uint32_t i = 0; i < count; ++i) {
    OrphanTransfer copy{std::make_unique<Completion>(),
                        std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kBufferBlockSize])};
    if (copy.buffer == nullptr) continue;  // this copy is not sent
    std::memcpy(copy.buffer.get(), block, kBufferBlockSize);
    const IoStatus started =
        SendRequest(port.Device.load(), request, copy.buffer.get(), copy.record.get());
    if (started.pending()) port.Orphans.Add(std::move(copy));
  }
}

// After a pending request completed: its answer becomes the cell text.
void ApplyValueText(const IoctlRequest& request, const uint8_t* block, std::string* cell_text) {
  switch (request.value_text) {
    case kWaitMaskText:
      *cell_text = FormatC(kWaitMaskFormat, DecodeFixed32(block + kSlots[kWordBuffer].offset));
      break;
    case kByteValueText:
      *cell_text = FormatC(kByteValueFormat, request.code,
                           static_cast<unsigned>(block[kSlots[kValueBuffer].offset]));
      break;
    case kNoValueText:
      break;
  }
}

}  // namespace

int IoctlExerciser(PortContext& port) {
  RunState& run = port.Run->run;
  const TesterOptions& options = port.Run->options;
  // Held for the whole thread, whatever the controller does with its own
  // reference.
  const EventRef exit_event = run.ExitEvent;
  EventRef completion_event = MakeEvent(Event::Kind::kAutoReset);
  if (!completion_event) {
    port.Run->Messages().ShowError(kEventErrorText);
    return 0;
  }
  // On the heap, not on this thread's stack: a request that another
  // thread's ClosePort is still aborting when this thread ends is handed to
  // the orphan list below instead of dying with the thread.
  OrphanTransfer own{std::make_unique<Completion>(completion_event),
                     std::make_unique<uint8_t[]>(kBufferBlockSize)};
  uint8_t* const block = own.buffer.get();
  std::string cell_text;

  bool close_port = true;
  for (;;) {
    if (run.StopFlag.load() != 0) break;
    const int32_t index = options.IoctlIndex.load();
    if (index == 0) break;
    const IoctlRequest* request = FindRequest(index);
    if (request == nullptr) {
      // No such request: nothing is sent, and the port keeps its traffic.
      close_port = false;
      break;
    }
    if (request->label != nullptr) cell_text = request->label;
    PrepareInput(*request, block);
    QueueExtraCopies(port, *request, block);

    // The event may still hold the signal of a request that completed at
    // once; only this request's completion may end the wait.
    completion_event->Reset();
    const IoStatus started = SendRequest(port.Device.load(), *request, block, own.record.get());
    // A failure whose code reads 0 cannot be told from success here; it
    // counts as done at once.
    if (!started.done()) {
      if (!started.pending()) break;
      const int woken = WaitAny({completion_event.get(), exit_event.get()}, kInfinite);
      if (woken != kCompletionSignalled) break;
      // Only the answer counts, not how the request ended.
      ApplyValueText(*request, block, &cell_text);
    }
    // After Stop the rows show the stop's snapshot; a later answer is not in it.
    if (port.Run->run.StopFlag.load() != 0) break;
    port.Run->View().SetCell(port.Row, kColumnLastCommError, cell_text);
  }

  completion_event.reset();
  if (close_port) ClosePort(port);
  // ClosePort aborts every outstanding transfer before it returns, unless
  // another thread of the port won the race to close and is still at it.
  // Then the request waited for last may still be pending; the orphan list
  // keeps its record and buffers until the device let go of them.
  if (own.record->status.load(std::memory_order_acquire) == kErrorIoIncomplete) {
    port.Orphans.Add(std::move(own));
  }
  return 1;
}

}  // namespace quarnex
