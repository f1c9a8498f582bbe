// The verdict on a port since Start, and on a whole run, for the window's
// row colours, its tooltips and its status bar.
//
// Pure functions over snapshots (port_counters.h); any thread.
#ifndef QUARNEX_REPORT_RUN_VERDICT_H_
#define QUARNEX_REPORT_RUN_VERDICT_H_

#include <string>
#include <vector>

#include "testapp/report/port_counters.h"

namespace quarnex {

enum class PortRunVerdict {
  kPassing,         // packets judged, no error
  kFailed,          // at least one error since Start
  kNoPacketJudged,  // open, but no packet judged yet
  kLost,            // the device went away
  kStalled,         // a transfer stayed outstanding past the stall limit
  kClosed,          // not open any more, or ended by Pause After, without error
};

// The verdict on `port` since Start. A port that could not be opened
// reads failed, as the runner fails it. A lost port reads lost whatever else
// it did, a stalled one stalled (a stall is a failure whether or not a
// timeout ended it, and the more urgent news); any error reads failed, also
// on a port that has ended, so a failure never fades from sight. A port
// that is closed or has reached Pause After, without an error, reads closed
// (it runs no more), never passing.
PortRunVerdict VerdictSinceStart(const PortCounters& port);

// "passing", "failed", "no packet judged yet", "lost", "stalled" or
// "closed".
const char* VerdictName(PortRunVerdict verdict);

// One line on a run's ports: "all passing" when every port passes, else the
// number of ports in each verdict, failures first, e.g. "2 ports failing,
// 1 lost, 5 passing". Empty for no ports.
std::string OverallVerdictText(const std::vector<PortRunVerdict>& verdicts);

}  // namespace quarnex

#endif  // QUARNEX_REPORT_RUN_VERDICT_H_
