#include "testapp/station/pass_fail.h"

#include <cinttypes>

#include "testapp/report/text_format.h"

namespace quarnex {

PortVerdict JudgePort(const PortSnapshot& port, const RunSnapshot& run, const Limits& limits) {
  PortVerdict verdict;
  if (!port.Opened) {
    verdict.failures.push_back("not opened");
  } else {
    // A dead line (no plug, nothing arriving) counts no error at all: the
    // run proved nothing for such a port.
    if (port.Counters.Lost) verdict.failures.push_back("lost");
    // Whether or not a timeout ended it: a line that stood still is broken.
    if (port.Counters.Stalled) {
      verdict.failures.push_back(FormatC("stalled %.1f s", port.Counters.StalledMs / 1000.0));
    }
    if (port.Counters.GoodPacketCount <= 0) verdict.failures.push_back("no good packet");
    if (port.Counters.ErrorCount > limits.max_errors) {
      verdict.failures.push_back(
          FormatC("errors %" PRId64 " above %d", port.Counters.ErrorCount, limits.max_errors));
    }
    if (limits.min_throughput_pct) {
      const std::optional<double> pct = ThroughputPct(AveragePacketMs(port.Counters),
                                                      run.ExpectedPacketTime, run.PacketsPerJudged);
      if (!pct) {
        verdict.failures.push_back("no throughput figure");
      } else if (*pct < *limits.min_throughput_pct) {
        verdict.failures.push_back(
            FormatC("throughput %.2f%% below %g%%", *pct, *limits.min_throughput_pct));
      }
    }
  }
  verdict.pass = verdict.failures.empty();
  return verdict;
}

int ExitStatusFor(const RunSnapshot& run, const Limits& limits) {
  for (const PortSnapshot& port : run.Ports) {
    if (!JudgePort(port, run, limits).pass) return kExitFail;
  }
  return kExitPass;
}

}  // namespace quarnex
