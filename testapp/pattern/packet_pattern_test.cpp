#include "testapp/pattern/packet_pattern.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarnex {
namespace {

// A block of 256 holds nine alphabets and A..V; the next block starts on
// 'A' again, not on 'W'.
TEST(PacketPatternTest, LettersStartAgainEveryBlockOf256) {
  const struct {
    uint64_t position;
    char byte;
  } kCases[] = {
      {0, 'A'},
      {1, 'B'},
      {25, 'Z'},
      {26, 'A'},
      {234, 'A'},
      {255, 'V'},
      {256, 'A'},
      {257, 'B'},
      {299, 'R'},
      {511, 'V'},
      {512, 'A'},
      {4294967295u, 'V'},
      // Positions past 32 bits keep the same cycle.
      {4294967296u, 'A'},
      {4294967296u + 30, 'E'},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.position);
    EXPECT_EQ(PatternByteAt(PatternKind::kLetters, c.position), static_cast<uint8_t>(c.byte));
  }
}

// A fill from any position writes the bytes PatternByteAt names there, and
// not one byte more.
TEST(PacketPatternTest, FillWritesTheStreamFromItsPositionAndNoFurther) {
  const struct {
    uint64_t position;
    size_t length;
  } kCases[] = {{0, 300}, {0, 1}, {250, 20}, {4294967290u, 12}, {7, 0}};
  constexpr uint8_t kGuard = 0xEE;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.position * 1000 + c.length);
    std::vector<uint8_t> out(c.length + 4, kGuard);
    FillPattern(PatternKind::kLetters, c.position, out.data(), c.length);
    for (size_t i = 0; i < c.length; ++i) {
      ASSERT_EQ(out[i], PatternByteAt(PatternKind::kLetters, c.position + i)) << "byte " << i;
    }
    for (size_t i = c.length; i < out.size(); ++i) EXPECT_EQ(out[i], kGuard) << "byte " << i;
  }
  FillPattern(PatternKind::kLetters, 0, nullptr, 0);
}

}  // namespace
}  // namespace quarnex
