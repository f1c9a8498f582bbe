// The Windows console for the runner's live table.
//
// The live table redraws itself with VT escape sequences. A Windows console
// interprets them once virtual-terminal processing is on (Windows 10 and
// later); where it cannot be turned on, or the output is no console (a
// pipe, a file, Wine's plain terminal), the runner writes the plain
// interval lines instead.
//
// The runner's main thread only.
#ifndef QUARNEX_RUNNER_CONSOLE_WIN32_H_
#define QUARNEX_RUNNER_CONSOLE_WIN32_H_

#include <cstdio>

namespace quarnex {

// Turns on virtual-terminal processing for the console behind `out`. True
// when `out` is a console that now takes the escape sequences.
bool UseVirtualTerminal(std::FILE* out);

// The visible window of the console behind `out`; false when `out` is no
// console.
bool ConsoleWindowSize(std::FILE* out, int* rows, int* columns);

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_CONSOLE_WIN32_H_
