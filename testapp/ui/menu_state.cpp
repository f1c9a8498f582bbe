// Which menu items each run state enables.
#include "testapp/ui/menu_state.h"

namespace quarnex {
namespace {

// One row per item that changes with the state: enabled in Idle, Running,
// Paused, Stopped.
struct StateRow {
  int id;
  bool enabled[4];
};

constexpr StateRow kStateTable[] = {
    {kIdPortSettings, {true, false, false, true}},
    {kIdTestSettings, {true, false, false, true}},
    {kIdOptions, {true, false, false, true}},
    {kIdTimeouts, {true, false, false, true}},
    {kIdStart, {true, false, false, true}},
    {kIdPause, {false, true, false, false}},
    {kIdContinue, {false, false, true, false}},
    {kIdStop, {false, true, true, false}},
    // The line commands stay enabled after Stop: that is all that tells
    // Stopped from Idle.
    {kIdSetRts, {false, true, true, true}},
    {kIdClearRts, {false, true, true, true}},
    {kIdSetDtr, {false, true, true, true}},
    {kIdClearDtr, {false, true, true, true}},
    {kIdGetDcd, {false, true, true, true}},
    {kIdGetCts, {false, true, true, true}},
};

}  // namespace

bool MenuItemEnabled(MenuState state, int id) {
  for (const StateRow& row : kStateTable) {
    if (row.id == id) return row.enabled[static_cast<int>(state)];
  }
  return id == kIdViewReceivedData || id == kIdAbout || id == kIdSaveResults;
}

}  // namespace quarnex
