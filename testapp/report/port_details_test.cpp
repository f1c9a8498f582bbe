#include "testapp/report/port_details.h"

#include <gtest/gtest.h>

#include <string>

namespace quarnex {
namespace {

TEST(PortDetailsTest, NamesEveryCauseLineErrorKindTimeoutAndTheFirstMismatch) {
  PortCounters port;
  port.PortNumber = 2;
  port.Open = true;
  port.PacketCount = 120;
  port.GoodPacketCount = 100;
  port.ErrorCount = 20;
  port.WriteFailedCount = 1;
  port.WriteAbortedCount = 2;
  port.ReadFailedCount = 3;
  port.ReadAbortedCount = 4;
  port.LengthMismatchCount = 5;
  port.DataMismatchCount = 6;
  port.LineErrorCount = {7, 8, 9, 10, 11, 12};
  port.ReadTimeoutCount = 13;
  port.WriteTimeoutCount = 14;
  port.Mismatch = {MismatchKind::kData, 17, 345, {}};
  port.Mismatch.Excerpt.Offset = 337;
  port.Mismatch.Excerpt.ExpectedLength = 3;
  port.Mismatch.Excerpt.Expected = {0x51, 0x52, 0x53};
  port.Mismatch.Excerpt.ReceivedLength = 2;
  port.Mismatch.Excerpt.Received = {0x51, 0xff};
  EXPECT_EQ(PortDetailsText(port),
            "Quarnex02: failed\n"
            "Packets: 120, good 100, errors 20\n"
            "  Write failed: 1\n"
            "  Write aborted: 2\n"
            "  Read failed: 3\n"
            "  Read aborted: 4\n"
            "  Length mismatch: 5\n"
            "  Data mismatch: 6\n"
            "Line errors: break 7, framing 8, overrun 9, receive overflow 10, parity 11, "
            "transmit full 12\n"
            "Timeouts: read 13, write 14\n"
            "First mismatch: packet 17, byte 345\n"
            "expected from byte 337: 51 52 53\n"
            "received from byte 337: 51 ff");
}

TEST(PortDetailsTest, APortNotOpenedTellsWhatWasTriedAndWhy) {
  PortCounters port;
  port.PortNumber = 8;
  port.NotOpened = true;
  port.OpenPath = "/dev/ttyUSB7";
  port.OpenReason = "in use (locked by another tester or program)";
  EXPECT_EQ(PortDetailsText(port),
            "Quarnex08: failed\nNot opened\nTried: /dev/ttyUSB7\n"
            "Reason: in use (locked by another tester or program)");
}

TEST(PortDetailsTest, AStalledPortSaysHowLongItsTransferWaited) {
  PortCounters port;
  port.PortNumber = 3;
  port.Open = true;
  port.PacketCount = 1;
  port.ErrorCount = 1;
  port.ReadFailedCount = 1;
  port.ReadTimeoutCount = 1;
  port.Stalled = true;
  port.StalledMs = 2468.0;
  const std::string text = PortDetailsText(port);
  EXPECT_TRUE(text.starts_with("Quarnex03: stalled\n")) << text;
  EXPECT_NE(text.find("\nTimeouts: read 1, write 0\nStalled: a transfer waited 2.5 s, past the "
                      "stall limit\n"),
            std::string::npos)
      << text;
}

TEST(PortDetailsTest, AnExcerptSideWithoutBytesSaysSo) {
  FirstMismatch mismatch{MismatchKind::kLength, 3, 0, {}};
  EXPECT_EQ(MismatchExcerptText(mismatch),
            "expected from byte 0: (none)\nreceived from byte 0: (none)");
  EXPECT_EQ(MismatchExcerptText({}), "");
  const uint8_t bytes[] = {0x00, 0x0a, 0xa0, 0xff};
  EXPECT_EQ(HexBytes(bytes, 4), "00 0a a0 ff");
  EXPECT_EQ(HexBytes(bytes, 0), "");
}

TEST(PortDetailsTest, FirstMismatchByKind) {
  EXPECT_EQ(FirstMismatchText({}), "none");
  EXPECT_EQ(FirstMismatchText({MismatchKind::kData, 1, 0, {}}), "packet 1, byte 0");
  EXPECT_EQ(FirstMismatchText({MismatchKind::kLength, 3, 1000, {}}),
            "packet 3, 1000 bytes received");
}

TEST(PortDetailsTest, LineErrorKindNamesFollowTheLineStatusOrder) {
  EXPECT_STREQ(LineErrorKindName(kLineBreak), "break");
  EXPECT_STREQ(LineErrorKindName(kLineRxOverflow), "receive overflow");
  EXPECT_STREQ(LineErrorKindName(kLineTxFull), "transmit full");
  EXPECT_STREQ(LineErrorKindName(kLineErrorKindCount), "");
  EXPECT_STREQ(LineErrorKindName(-1), "");
}

}  // namespace
}  // namespace quarnex
