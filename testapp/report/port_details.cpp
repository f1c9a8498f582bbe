#include "testapp/report/port_details.h"

#include <array>
#include <cinttypes>

#include "testapp/report/row_text.h"
#include "testapp/report/run_verdict.h"
#include "testapp/report/text_format.h"

namespace quarnex {
namespace {

constexpr std::array<const char*, kLineErrorKindCount> kLineErrorKindNames = {
    "break", "framing", "overrun", "receive overflow", "parity", "transmit full"};

}  // namespace

const char* LineErrorKindName(int kind) {
  if (kind < 0 || kind >= kLineErrorKindCount) return "";
  return kLineErrorKindNames[static_cast<size_t>(kind)];
}

std::string FirstMismatchText(const FirstMismatch& mismatch) {
  switch (mismatch.Kind) {
    case MismatchKind::kData:
      return FormatC("packet %" PRId64 ", byte %" PRId64, mismatch.Packet, mismatch.Offset);
    case MismatchKind::kLength:
      return FormatC("packet %" PRId64 ", %" PRId64 " bytes received", mismatch.Packet,
                     mismatch.Offset);
    case MismatchKind::kNone:
      break;
  }
  return "none";
}

std::string PortDetailsText(const PortCounters& port) {
  std::string text = PortLabel(port.PortNumber) + ": " + VerdictName(VerdictSinceStart(port));
  AppendFormatC(&text, "\nPackets: %" PRId64 ", good %" PRId64 ", errors %" PRId64,
                port.PacketCount, port.GoodPacketCount, port.ErrorCount);
  const std::pair<const char*, int64_t> causes[] = {
      {"Write failed", port.WriteFailedCount},       {"Write aborted", port.WriteAbortedCount},
      {"Read failed", port.ReadFailedCount},         {"Read aborted", port.ReadAbortedCount},
      {"Length mismatch", port.LengthMismatchCount}, {"Data mismatch", port.DataMismatchCount},
  };
  for (const auto& [name, count] : causes) AppendFormatC(&text, "\n  %s: %" PRId64, name, count);
  text += "\nLine errors:";
  for (int kind = 0; kind < kLineErrorKindCount; ++kind) {
    AppendFormatC(&text, "%s %s %" PRId64, kind == 0 ? "" : ",", kLineErrorKindNames[kind],
                  port.LineErrorCount[static_cast<size_t>(kind)]);
  }
  AppendFormatC(&text, "\nTimeouts: read %" PRId64 ", write %" PRId64, port.ReadTimeoutCount,
                port.WriteTimeoutCount);
  text += "\nFirst mismatch: " + FirstMismatchText(port.Mismatch);
  return text;
}

}  // namespace quarnex
