#include "testapp/runner/console_win32.h"

#include <io.h>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace quarnex {

namespace {

HANDLE ConsoleOf(std::FILE* out) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

}  // namespace

bool UseVirtualTerminal(std::FILE* out) {
  const HANDLE console = ConsoleOf(out);
  DWORD mode = 0;
  if (console == nullptr || !GetConsoleMode(console, &mode)) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

bool ConsoleWindowSize(std::FILE* out, int* rows, int* columns) {
  const HANDLE console = ConsoleOf(out);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (console == nullptr || !GetConsoleScreenBufferInfo(console, &info)) return false;
  *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  *columns = info.srWindow.Right - info.srWindow.Left + 1;
  return *rows > 0 && *columns > 0;
}

}  // namespace quarnex
