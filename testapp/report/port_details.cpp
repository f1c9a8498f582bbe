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

std::string LineErrorCountsText(const PortCounters& port) {
  std::string text;
  for (int kind = 0; kind < kLineErrorKindCount; ++kind) {
    AppendFormatC(&text, "%s%s %" PRId64, kind == 0 ? "" : ", ", kLineErrorKindNames[kind],
                  port.LineErrorCount[static_cast<size_t>(kind)]);
  }
  return text;
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) AppendFormatC(&text, i == 0 ? "%02x" : " %02x", bytes[i]);
  return text;
}

std::string MismatchExcerptText(const FirstMismatch& mismatch) {
  if (mismatch.Kind == MismatchKind::kNone) return "";
  const MismatchExcerpt& e = mismatch.Excerpt;
  const auto side = [&e](const char* name, const uint8_t* bytes, size_t count) {
    return FormatC("%s from byte %" PRId64 ": %s", name, e.Offset,
                   count == 0 ? "(none)" : HexBytes(bytes, count).c_str());
  };
  return side("expected", e.Expected.data(), e.ExpectedLength) + "\n" +
         side("received", e.Received.data(), e.ReceivedLength);
}

std::string PortDetailsText(const PortCounters& port) {
  std::string text = PortLabel(port.PortNumber) + ": " + VerdictName(VerdictSinceStart(port));
  if (port.NotOpened) {
    // It counted nothing: what was tried and why it failed is all there is.
    return text + "\n" + kStatusNotOpened + "\nTried: " + port.OpenPath +
           "\nReason: " + port.OpenReason;
  }
  AppendFormatC(&text, "\nPackets: %" PRId64 ", good %" PRId64 ", errors %" PRId64,
                port.PacketCount, port.GoodPacketCount, port.ErrorCount);
  for (size_t i = kFirstErrorCause; i < kPacketCounterCount; ++i) {
    const PacketCounterField& field = kPacketCounterFields[i];
    AppendFormatC(&text, "\n  %s: %" PRId64, field.name, port.*field.member);
  }
  text += "\nLine errors: " + LineErrorCountsText(port);
  AppendFormatC(&text, "\nTimeouts: read %" PRId64 ", write %" PRId64, port.ReadTimeoutCount,
                port.WriteTimeoutCount);
  if (port.Stalled) {
    AppendFormatC(&text, "\nStalled: a transfer waited %.1f s, past the stall limit",
                  port.StalledMs / 1000.0);
  }
  text += "\nFirst mismatch: " + FirstMismatchText(port.Mismatch);
  const std::string excerpt = MismatchExcerptText(port.Mismatch);
  if (!excerpt.empty()) text += "\n" + excerpt;
  return text;
}

}  // namespace quarnex
