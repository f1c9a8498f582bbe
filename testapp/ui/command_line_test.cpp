#include "testapp/ui/command_line.h"

#include <gtest/gtest.h>

namespace quarnex {
namespace {

TEST(IsAutoStart, OnlyTheExactSingleWord) {
  struct Case {
    std::vector<std::string> args;
    bool start;
  } cases[] = {
      {{"start"}, true},       {{}, false},         {{"Start"}, false},  {{"START"}, false},
      {{"start", "x"}, false}, {{"start "}, false}, {{" start"}, false}, {{"starts"}, false},
      {{"x", "start"}, false}, {{""}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsAutoStart(c.args), c.start) << (c.args.empty() ? "<none>" : c.args[0]);
  }
}

}  // namespace
}  // namespace quarnex
