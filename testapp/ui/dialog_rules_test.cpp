#include "testapp/ui/dialog_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quarnex {
namespace {

TEST(ParseUnsignedDecimal, ReadsLeadingDigitsOnly) {
  struct Case {
    const char* text;
    uint32_t value;
  } cases[] = {
      {"", 0},           {"abc", 0},         {"  42", 42}, {"\t7x", 7},
      {"12ab34", 12},    {"-5", 0},          {"+5", 0},    {"4294967295", 4294967295u},
      {"4294967296", 0}, {"99999999999", 0}, {"007", 7},   {"1 2", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseUnsignedDecimal(c.text), c.value) << '"' << c.text << '"';
}

TestDialogValues Opened() {
  TestDialogValues v{DefaultTestSettings(), 1024};
  v.Test.PortCount = 1;
  std::strcpy(v.Test.FileName, "/old/file");
  v.Test.FileNameLength = 9;
  return v;
}

TEST(TestDialogOk, PacketSizeTakenOnlyInRange) {
  struct Case {
    const char* text;
    int32_t expected;
  } cases[] = {{"0", 1024},      {"65537", 1024}, {"", 1024},
               {"65536", 65536}, {"1", 1},        {" 300x", 300}};
  for (const Case& c : cases) {
    TestDialogValues v = Opened();
    ApplyTestDialogOk({"1", c.text, kLoopback, "", "1"}, &v);
    EXPECT_EQ(v.PacketSize, c.expected) << c.text;
  }
}

TEST(TestDialogOk, PortIndexUncheckedAndPortCountOne) {
  TestDialogValues v = Opened();
  v.Test.PortCount = 9;
  ApplyTestDialogOk({"999", "64", kLoopback, "", "1"}, &v);
  EXPECT_EQ(v.Test.PortIndex, 999);
  EXPECT_EQ(v.Test.PortCount, 1);
  ApplyTestDialogOk({"", "64", kLoopback, "", "1"}, &v);
  EXPECT_EQ(v.Test.PortIndex, 0);
}

TEST(TestDialogOk, LoopbackDropsFileUseButKeepsName) {
  TestDialogValues v = Opened();
  ApplyTestDialogOk({"1", "64", kLoopback, "/new/file", "1"}, &v);
  EXPECT_EQ(v.Test.Mode, kLoopback);
  EXPECT_EQ(v.Test.FileNameLength, 0);
  EXPECT_STREQ(v.Test.FileName, "/old/file");
}

TEST(TestDialogOk, OtherModesTakeFileName) {
  for (int mode : {int{kReceiveOnly}, int{kTransmitOnly}, kNoModeSelected}) {
    TestDialogValues v = Opened();
    ApplyTestDialogOk({"1", "64", mode, "/a", "1"}, &v);
    EXPECT_EQ(v.Test.Mode, mode);
    EXPECT_STREQ(v.Test.FileName, "/a");
    EXPECT_EQ(v.Test.FileNameLength, 2);
  }
  // An empty field means no file.
  TestDialogValues v = Opened();
  ApplyTestDialogOk({"1", "64", kTransmitOnly, "", "1"}, &v);
  EXPECT_EQ(v.Test.FileNameLength, 0);
  EXPECT_STREQ(v.Test.FileName, "");
}

TEST(TestDialogOk, LongFileNameCutAt255) {
  TestDialogValues v = Opened();
  const std::string name(300, 'f');
  ApplyTestDialogOk({"1", "64", kTransmitOnly, name, "1"}, &v);
  EXPECT_EQ(v.Test.FileNameLength, 255);
  EXPECT_EQ(std::string(v.Test.FileName), name.substr(0, 255));

  // Never inside a two-byte character: byte 254..255 is one character.
  std::string utf8(254, 'g');
  utf8 += "\xC3\xA9tail";
  ApplyTestDialogOk({"1", "64", kTransmitOnly, utf8, "1"}, &v);
  EXPECT_EQ(v.Test.FileNameLength, 254);
  EXPECT_EQ(std::string(v.Test.FileName), std::string(254, 'g'));
}

TEST(OptionsOk, PauseAfterRules) {
  struct Case {
    bool checked;
    const char* count;
    int32_t before;
    int32_t after;
  } cases[] = {
      {true, "25", 0, 25}, {true, "", 7, 7},
      {true, "0", 7, 7},   {true, "3000000000", 7, 7},  // negative as a signed 32-bit value
      {false, "25", 7, 0}, {true, "x", 0, 0},
  };
  for (const Case& c : cases) {
    TestSettings t = DefaultTestSettings();
    t.PauseAfter = c.before;
    ApplyOptionsOk({c.checked, c.count, "0", "500", true}, &t);
    EXPECT_EQ(t.PauseAfter, c.after) << c.checked << " " << c.count;
  }
}

TEST(OptionsOk, DelayIntervalAndSwitch) {
  TestSettings t = DefaultTestSettings();
  ApplyOptionsOk({false, "", "15", "0", false}, &t);
  EXPECT_EQ(t.Delay, 15u);
  EXPECT_EQ(t.UpdateInterval, 0u);
  EXPECT_EQ(t.TimeoutBlockedThreads, 0);
  ApplyOptionsOk({false, "", "", "abc", true}, &t);
  EXPECT_EQ(t.Delay, 0u);
  EXPECT_EQ(t.UpdateInterval, 0u);
  EXPECT_EQ(t.TimeoutBlockedThreads, 1);
}

TEST(TimeoutFields, ReadWithoutChecks) {
  const TimeoutSettings t = ReadTimeoutFields(" 250", "x");
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 250u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
}

TEST(ReceivedText, StopsAtLengthBufferAndZero) {
  const std::vector<uint8_t> data = {'A', 'B', 'C', 0, 'D'};
  EXPECT_EQ(ReceivedText(data, 2), "AB");
  EXPECT_EQ(ReceivedText(data, 5), "ABC");
  EXPECT_EQ(ReceivedText({'x', 'y'}, 1000), "xy");  // never past the data
  EXPECT_EQ(ReceivedText({}, 10), "");
  EXPECT_EQ(ReceivedText({'x'}, 0), "");
}

// Which fields OK refuses, and only those.
TEST(FieldChecks, RefuseOnlyWhatCannotBeKept) {
  auto fields = [](const std::vector<FieldProblem>& problems) {
    std::vector<int> f;
    for (const FieldProblem& p : problems) f.push_back(p.field);
    return f;
  };
  using V = std::vector<int>;
  EXPECT_EQ(fields(CheckTestDialog({"1", "1024", kLoopback, "", "128"})), V{});
  EXPECT_EQ(fields(CheckTestDialog({" 999 ", "65536", kTransmitOnly, "/f", "1"})), V{});
  EXPECT_EQ(fields(CheckTestDialog({"999", "1", kLoopback, "", "2"})), V{kFieldPortCount});
  EXPECT_EQ(fields(CheckTestDialog({"0", "0", kLoopback, "", "129"})),
            (V{kFieldPortIndex, kFieldPortCount, kFieldPacketSize}));
  EXPECT_EQ(fields(CheckTestDialog({"1000", "12a", kLoopback, "", ""})),
            (V{kFieldPortIndex, kFieldPortCount, kFieldPacketSize}));
  const std::string long_name(256, 'n');
  EXPECT_EQ(fields(CheckTestDialog({"1", "1", kReceiveOnly, long_name, "1"})), V{kFieldFileName});
  EXPECT_EQ(fields(CheckTestDialog({"1", "1", kLoopback, long_name, "1"})), V{});

  EXPECT_EQ(fields(CheckOptions({false, "", "0", "3600000", true})), V{});
  EXPECT_EQ(fields(CheckOptions({true, "0", "", "3600001", true})),
            (V{kFieldPauseAfter, kFieldDelay, kFieldUpdateInterval}));
  EXPECT_EQ(fields(CheckOptions({true, "2147483648", "5", "5", true})), V{kFieldPauseAfter});

  EXPECT_EQ(fields(CheckTimeouts("4294967295", "0")), V{});
  EXPECT_EQ(fields(CheckTimeouts("4294967296", "-1")), (V{kFieldMultiplier, kFieldConstant}));

  uint32_t v = 0;
  EXPECT_TRUE(ReadWholeNumber(" 42\t", &v));
  EXPECT_EQ(v, 42u);
  for (const char* bad : {"", "  ", "1 2", "+1", "0x10", "4294967296"}) {
    EXPECT_FALSE(ReadWholeNumber(bad, &v)) << bad;
  }
}

TEST(FileLabel, ByMode) {
  EXPECT_STREQ(FileLabelText(kReceiveOnly), "Compare with file: (Optional)");
  EXPECT_STREQ(FileLabelText(kTransmitOnly), "Transmit file: (Optional)");
}

}  // namespace
}  // namespace quarnex
