// PortCounters: one port's figures at one moment, the snapshot that the
// log's stop record, the headless runner and the window all read.
//
// The engine fills it from the port's live record (port_snapshot.h); the
// report layer only reads it. A plain value: copy it to any thread.
#ifndef QUARNEX_REPORT_PORT_COUNTERS_H_
#define QUARNEX_REPORT_PORT_COUNTERS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

namespace quarnex {

// The kinds of line error a device reports, in the order the line-status
// text names them: break (0x10), framing (0x08), overrun (0x02), receive
// buffer overflow (0x01), parity (0x04), transmit buffer full (0x100).
enum LineErrorKind : int {
  kLineBreak = 0,
  kLineFraming,
  kLineOverrun,
  kLineRxOverflow,
  kLineParity,
  kLineTxFull,
  kLineErrorKindCount
};

// How the first bad packet of a run differed from what was expected.
enum class MismatchKind : int32_t {
  kNone = 0,
  kData = 1,    // a byte differed; Offset is the first differing byte
  kLength = 2,  // the read came back short; Offset is the length received
};

// Bytes an excerpt of a mismatch shows from each side.
inline constexpr size_t kMismatchExcerptSize = 16;

// The bytes around a mismatch, as they should have been and as they came.
// Expected[i] and Received[i] lie at Offset + i, counted as
// FirstMismatch::Offset is (in the packet, or in the file in file mode).
// A side may hold fewer bytes: a short read ends early, and where nothing
// was expected (Receive only without a file) Expected is empty.
struct MismatchExcerpt {
  int64_t Offset = 0;
  uint8_t ExpectedLength = 0;
  uint8_t ReceivedLength = 0;
  std::array<uint8_t, kMismatchExcerptSize> Expected{};
  std::array<uint8_t, kMismatchExcerptSize> Received{};
};

// The first mismatch since Start, kept once per run.
struct FirstMismatch {
  MismatchKind Kind = MismatchKind::kNone;
  int64_t Packet = 0;  // the PacketCount of that packet (1 = the first)
  int64_t Offset = 0;  // see MismatchKind
  MismatchExcerpt Excerpt;
};

// What the last packet a port counted came to: the Status cell's text is
// made from it (row_text.h), so a status is always one the counters hold.
enum class PacketStatus : int32_t {
  kNone = 0,  // no packet judged yet
  kSuccess,
  kWriteFailed,
  kReadFailed,
  kLengthMismatch,  // with the length the read came back with
  kDataMismatch,
  kReadTimeout,   // a failed read that the blocked-transfer timeout ended
  kWriteTimeout,  // likewise a failed write
};

struct PortCounters {
  int32_t PortNumber = 0;
  // What the stop record prints.
  int64_t PacketCount = 0;
  int64_t GoodPacketCount = 0;
  int64_t ErrorCount = 0;
  int64_t WriteFailedCount = 0;
  int64_t WriteAbortedCount = 0;
  int64_t ReadFailedCount = 0;
  int64_t ReadAbortedCount = 0;
  int64_t LengthMismatchCount = 0;
  int64_t DataMismatchCount = 0;
  double TotalPacketTime = 0.0;  // ms, sum over the good packets

  // Beyond the log's lines, which keep their format.
  // Line errors since Start, by LineErrorKind.
  std::array<int64_t, kLineErrorKindCount> LineErrorCount{};
  // Of the failed reads and writes, those the blocked-transfer timeout ended.
  int64_t ReadTimeoutCount = 0;
  int64_t WriteTimeoutCount = 0;
  FirstMismatch Mismatch;
  bool Open = false;   // the port's device was open at that moment
  bool Ended = false;  // it reached Pause After and sends no more packets
  bool Lost = false;   // its device reported itself gone
  // The transfer of the packet in flight when the snapshot was taken, if
  // it had been outstanding longer than the line needs for it: counted
  // above as one timeout of this kind (1 read, 2 write; 0 none), as the
  // blocked-transfer timeout would have counted it.
  int32_t OverdueTimeout = 0;
  // A transfer of this run stayed outstanding past the stall limit (now,
  // or earlier and then completed): the port stalled, whatever the
  // blocked-transfer timeout says. StalledMs is the longest such stall.
  bool Stalled = false;
  double StalledMs = 0.0;
  // The status of the last packet these counters count, and for
  // kLengthMismatch the bytes its read brought.
  PacketStatus LastStatus = PacketStatus::kNone;
  uint32_t LastStatusLength = 0;
  // The port could not be opened at Start: what was tried (the device the
  // port maps to, or its device name when the backend names none) and why
  // it failed. Such a port counts nothing and fails.
  bool NotOpened = false;
  std::string OpenPath;
  std::string OpenReason;
};

// The packet counters, in the order every report shows them: the name the
// window, the log and the text report use (the log's lines and the text
// report's causes print it as it stands or in lower case), the key of the
// JSON summary and the metrics, and the member. The first three count
// packets; the others are the causes of the bad ones.
struct PacketCounterField {
  const char* name;
  const char* json_key;
  int64_t PortCounters::*member;
};
inline constexpr PacketCounterField kPacketCounterFields[] = {
    {"Packets", "packets", &PortCounters::PacketCount},
    {"Good packets", "good_packets", &PortCounters::GoodPacketCount},
    {"Errors", "errors", &PortCounters::ErrorCount},
    {"Write failed", "write_failed", &PortCounters::WriteFailedCount},
    {"Write aborted", "write_aborted", &PortCounters::WriteAbortedCount},
    {"Read failed", "read_failed", &PortCounters::ReadFailedCount},
    {"Read aborted", "read_aborted", &PortCounters::ReadAbortedCount},
    {"Length mismatch", "length_mismatch", &PortCounters::LengthMismatchCount},
    {"Data mismatch", "data_mismatch", &PortCounters::DataMismatchCount},
};
inline constexpr size_t kPacketCounterCount = std::size(kPacketCounterFields);
// Where the causes of bad packets begin in kPacketCounterFields.
inline constexpr size_t kFirstErrorCause = 3;

}  // namespace quarnex

#endif  // QUARNEX_REPORT_PORT_COUNTERS_H_
