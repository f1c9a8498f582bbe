#include "testapp/report/run_verdict.h"

#include <algorithm>
#include <array>

#include "testapp/report/text_format.h"

namespace quarnex {
namespace {

struct VerdictGroup {
  PortRunVerdict verdict;
  const char* one;   // the text after a count of 1
  const char* many;  // after a larger count
};

// The order of the overall text: what needs a look first.
constexpr std::array<VerdictGroup, 6> kGroups = {{
    {PortRunVerdict::kFailed, "port failing", "ports failing"},
    {PortRunVerdict::kStalled, "stalled", "stalled"},
    {PortRunVerdict::kLost, "lost", "lost"},
    {PortRunVerdict::kNoPacketJudged, "with no packet yet", "with no packet yet"},
    {PortRunVerdict::kClosed, "closed", "closed"},
    {PortRunVerdict::kPassing, "passing", "passing"},
}};

}  // namespace

PortRunVerdict VerdictSinceStart(const PortCounters& port) {
  if (port.NotOpened) return PortRunVerdict::kFailed;
  if (port.Lost) return PortRunVerdict::kLost;
  if (port.Stalled) return PortRunVerdict::kStalled;
  if (port.ErrorCount > 0) return PortRunVerdict::kFailed;
  if (!port.Open || port.Ended) return PortRunVerdict::kClosed;
  if (port.GoodPacketCount > 0) return PortRunVerdict::kPassing;
  return PortRunVerdict::kNoPacketJudged;
}

const char* VerdictName(PortRunVerdict verdict) {
  switch (verdict) {
    case PortRunVerdict::kPassing:
      return "passing";
    case PortRunVerdict::kFailed:
      return "failed";
    case PortRunVerdict::kNoPacketJudged:
      return "no packet judged yet";
    case PortRunVerdict::kLost:
      return "lost";
    case PortRunVerdict::kStalled:
      return "stalled";
    case PortRunVerdict::kClosed:
      return "closed";
  }
  return "";
}

std::string OverallVerdictText(const std::vector<PortRunVerdict>& verdicts) {
  if (verdicts.empty()) return {};
  const auto passing = std::count(verdicts.begin(), verdicts.end(), PortRunVerdict::kPassing);
  if (passing == static_cast<std::ptrdiff_t>(verdicts.size())) return "all passing";
  std::string text;
  for (const VerdictGroup& group : kGroups) {
    const auto n = std::count(verdicts.begin(), verdicts.end(), group.verdict);
    if (n == 0) continue;
    if (!text.empty()) text += ", ";
    AppendFormatC(&text, "%td %s", n, n == 1 ? group.one : group.many);
  }
  return text;
}

}  // namespace quarnex
