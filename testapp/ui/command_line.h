// The program's command line.
//
// Pure function, safe from any thread.
#ifndef QUARNEX_UI_COMMAND_LINE_H_
#define QUARNEX_UI_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace quarnex {

// The word that starts a run as soon as the window shows.
inline constexpr char kAutoStartWord[] = "start";

// True when the arguments after the program name (Qt's own options already
// removed) are exactly the one word "start", in that letter case.
bool IsAutoStart(const std::vector<std::string>& arguments);

}  // namespace quarnex

#endif  // QUARNEX_UI_COMMAND_LINE_H_
