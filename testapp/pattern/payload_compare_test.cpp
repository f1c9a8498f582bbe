#include "testapp/pattern/payload_compare.h"

#include <gtest/gtest.h>

#include <string>

namespace quarnex {
namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(PayloadCompareTest, FindsTheFirstDifferenceWithinTheComparedLength) {
  const struct {
    const char* name;
    std::string sent, received;
    size_t length, first_difference;
  } kCases[] = {
      {"equal", "ABCDEFGH", "ABCDEFGH", 8, 8},
      {"first byte", "ABCDEFGH", "xBCDEFGH", 8, 0},
      {"middle", "ABCDEFGH", "ABCxEFxH", 8, 3},
      {"last byte", "ABCDEFGH", "ABCDEFGx", 8, 7},
      {"one bit",
       std::string("AB\x00"
                   "D",
                   4),
       std::string("AB\x80"
                   "D",
                   4),
       4, 2},
      {"beyond the length", "ABCDEFGH", "ABCDxxxx", 4, 4},
      {"nothing compared", "A", "x", 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const PayloadComparison r = ComparePayload(Bytes(c.sent), Bytes(c.received), c.length);
    EXPECT_EQ(r.compared, c.length);
    EXPECT_EQ(r.first_difference, c.first_difference);
    EXPECT_EQ(r.equal(), c.first_difference == c.length);
  }
  EXPECT_TRUE(ComparePayload(nullptr, nullptr, 0).equal());
}

}  // namespace
}  // namespace quarnex
