#include "testapp/ui/menu_state.h"

#include <gtest/gtest.h>

namespace quarnex {
namespace {

TEST(MenuState, FixedItemsNeverChange) {
  for (MenuState s :
       {MenuState::kIdle, MenuState::kRunning, MenuState::kPaused, MenuState::kStopped}) {
    EXPECT_FALSE(MenuItemEnabled(s, kIdToggle));
    EXPECT_TRUE(MenuItemEnabled(s, kIdViewReceivedData));
    EXPECT_TRUE(MenuItemEnabled(s, kIdAbout));
  }
}

// The device map is chosen when the test is: between runs, never during one.
TEST(MenuState, PortSettingsOpenWhenTestSettingsDo) {
  for (MenuState s :
       {MenuState::kIdle, MenuState::kRunning, MenuState::kPaused, MenuState::kStopped}) {
    EXPECT_EQ(MenuItemEnabled(s, kIdPortSettings), MenuItemEnabled(s, kIdTestSettings))
        << static_cast<int>(s);
  }
  EXPECT_TRUE(MenuItemEnabled(MenuState::kIdle, kIdPortSettings));
  EXPECT_FALSE(MenuItemEnabled(MenuState::kRunning, kIdPortSettings));
}

TEST(MenuState, StoppedDiffersFromIdleOnlyInLineCommands) {
  const int line_commands[] = {kIdSetRts,   kIdClearRts, kIdSetDtr,
                               kIdClearDtr, kIdGetDcd,   kIdGetCts};
  for (int id = 40001; id <= 40019; ++id) {
    bool is_line = false;
    for (int l : line_commands) is_line |= (l == id);
    if (is_line) {
      EXPECT_FALSE(MenuItemEnabled(MenuState::kIdle, id)) << id;
      EXPECT_TRUE(MenuItemEnabled(MenuState::kStopped, id)) << id;
    } else {
      EXPECT_EQ(MenuItemEnabled(MenuState::kIdle, id), MenuItemEnabled(MenuState::kStopped, id))
          << id;
    }
  }
}

}  // namespace
}  // namespace quarnex
