#include "serial/line_settings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quarnex {
namespace {

// Start bit, data bits, a parity bit when there is one, one stop bit. (How
// the block's fields become these settings: block_line_settings_test.cpp.)
TEST(LineSettingsTest, CharacterBitsCountStartDataParityAndStop) {
  const struct {
    int data_bits;
    LineParity parity;
    int bits_per_character;
  } kCases[] = {
      {5, LineParity::kNone, 7},  {7, LineParity::kOdd, 10},  {6, LineParity::kEven, 9},
      {8, LineParity::kNone, 10}, {8, LineParity::kEven, 11},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.data_bits * 10 + static_cast<int>(c.parity));
    LineSettings s;
    s.data_bits = c.data_bits;
    s.parity = c.parity;
    EXPECT_EQ(LineBitsPerCharacter(s), c.bits_per_character);
  }
}

TEST(LineSettingsTest, TermiosCarriesSizeParityAndFlowAndReadsBack) {
  termios t;
  std::memset(&t, 0, sizeof(t));
  t.c_lflag = ICANON | ECHO | ISIG;
  t.c_iflag = IXON | ICRNL;
  MakeRawLine(&t);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  LineSettings odd7{115200, 7, LineParity::kOdd, true};
  ApplyLineSettings(odd7, &t);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_iflag & INPCK, 0u);
  EXPECT_TRUE(LineFramingMatches(odd7, t));

  LineSettings none8{0, 8, LineParity::kNone, false};
  EXPECT_FALSE(LineFramingMatches(none8, t));
  ApplyLineSettings(none8, &t);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & INPCK, 0u);
  EXPECT_TRUE(LineFramingMatches(none8, t));
}

}  // namespace
}  // namespace quarnex
