// The main window's command ids and which menu items each run state
// enables.
//
// Pure data and functions, safe from any thread.
#ifndef QUARNEX_UI_MENU_STATE_H_
#define QUARNEX_UI_MENU_STATE_H_

namespace quarnex {

// Menu command ids (the action of command n is named "action<n>").
inline constexpr int kIdStart = 40001;
inline constexpr int kIdStop = 40002;
inline constexpr int kIdAbout = 40003;
inline constexpr int kIdPortSettings = 40004;
inline constexpr int kIdTestSettings = 40005;
inline constexpr int kIdTimeouts = 40007;
inline constexpr int kIdPause = 40008;
inline constexpr int kIdContinue = 40009;
inline constexpr int kIdViewReceivedData = 40010;
inline constexpr int kIdOptions = 40011;
inline constexpr int kIdToggle = 40012;
inline constexpr int kIdSetRts = 40014;
inline constexpr int kIdClearRts = 40015;
inline constexpr int kIdSetDtr = 40016;
inline constexpr int kIdClearDtr = 40017;
inline constexpr int kIdGetDcd = 40018;
inline constexpr int kIdGetCts = 40019;
inline constexpr int kIdSaveResults = 40020;

enum class MenuState { kIdle, kRunning, kPaused, kStopped };

// Whether the item `id` is enabled in `state`. Items the state table does
// not list keep one setting: View received data, Save results and About
// are always enabled, Toggle (and unknown ids) always disabled.
bool MenuItemEnabled(MenuState state, int id);

}  // namespace quarnex

#endif  // QUARNEX_UI_MENU_STATE_H_
