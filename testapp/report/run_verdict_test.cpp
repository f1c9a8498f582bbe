#include "testapp/report/run_verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarnex {
namespace {

TEST(RunVerdictTest, VerdictSinceStart) {
  struct Case {
    const char* name;
    int64_t good;
    int64_t errors;
    bool open;
    bool ended;
    bool lost;
    PortRunVerdict verdict;
    bool stalled = false;
  };
  const Case cases[] = {
      {"good packets only", 10, 0, true, false, false, PortRunVerdict::kPassing},
      {"one error among good ones", 10, 1, true, false, false, PortRunVerdict::kFailed},
      {"only errors", 0, 3, true, false, false, PortRunVerdict::kFailed},
      {"nothing judged yet", 0, 0, true, false, false, PortRunVerdict::kNoPacketJudged},
      {"lost after good packets", 10, 1, false, false, true, PortRunVerdict::kLost},
      {"lost while still open", 5, 1, true, false, true, PortRunVerdict::kLost},
      {"closed without error", 10, 0, false, false, false, PortRunVerdict::kClosed},
      {"closed before any packet", 0, 0, false, false, false, PortRunVerdict::kClosed},
      {"ended by Pause After, still open", 10, 0, true, true, false, PortRunVerdict::kClosed},
      {"ended by Pause After with errors", 8, 2, false, true, false, PortRunVerdict::kFailed},
      {"closed with errors", 8, 2, false, false, false, PortRunVerdict::kFailed},
      {"stalled, no error", 3, 0, true, false, false, PortRunVerdict::kStalled, true},
      {"stalled, then an error", 3, 1, true, false, false, PortRunVerdict::kStalled, true},
      {"stalled, closed since", 3, 0, false, false, false, PortRunVerdict::kStalled, true},
      {"lost after a stall", 3, 1, false, false, true, PortRunVerdict::kLost, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PortCounters port;
    port.GoodPacketCount = c.good;
    port.ErrorCount = c.errors;
    port.PacketCount = c.good + c.errors;
    port.Open = c.open;
    port.Ended = c.ended;
    port.Lost = c.lost;
    port.Stalled = c.stalled;
    EXPECT_EQ(VerdictSinceStart(port), c.verdict);
  }
}

// A port that could not be opened counts nothing, yet fails: the run did
// not test it.
TEST(RunVerdictTest, APortNotOpenedFails) {
  PortCounters port;
  port.NotOpened = true;
  EXPECT_EQ(VerdictSinceStart(port), PortRunVerdict::kFailed);
  EXPECT_EQ(OverallVerdictText({PortRunVerdict::kPassing, VerdictSinceStart(port)}),
            "1 port failing, 1 passing");
}

TEST(RunVerdictTest, OverallTextCountsEachVerdictFailuresFirst) {
  using V = PortRunVerdict;
  struct Case {
    std::vector<V> verdicts;
    std::string text;
  };
  const Case cases[] = {
      {{}, ""},
      {{V::kPassing}, "all passing"},
      {{V::kPassing, V::kPassing, V::kPassing}, "all passing"},
      {{V::kPassing, V::kFailed, V::kPassing}, "1 port failing, 2 passing"},
      {{V::kFailed, V::kFailed}, "2 ports failing"},
      {{V::kPassing, V::kLost, V::kFailed, V::kNoPacketJudged, V::kClosed},
       "1 port failing, 1 lost, 1 with no packet yet, 1 closed, 1 passing"},
      {{V::kClosed, V::kClosed}, "2 closed"},
      {{V::kStalled, V::kPassing, V::kFailed, V::kStalled}, "1 port failing, 2 stalled, 1 passing"},
      {{V::kNoPacketJudged, V::kPassing}, "1 with no packet yet, 1 passing"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OverallVerdictText(c.verdicts), c.text);
  }
}

}  // namespace
}  // namespace quarnex
