#include "testapp/runner/live_screen.h"

#if defined(_WIN32)
#include "testapp/runner/console_win32.h"
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quarnex {

namespace {

constexpr int kDefaultRows = 24;
constexpr int kDefaultColumns = 80;

#if defined(_WIN32)
struct winsize {
  int ws_row;
  int ws_col;
};

bool WindowSize(std::FILE* out, winsize* size) {
  return ConsoleWindowSize(out, &size->ws_row, &size->ws_col);
}
#else
bool WindowSize(std::FILE* out, winsize* size) {
  return ioctl(fileno(out), TIOCGWINSZ, size) == 0 && size->ws_row > 0 && size->ws_col > 0;
}
#endif

}  // namespace

void LiveScreen::Draw(std::string_view text) {
  // Back to the first line of the old block; each new line clears what the
  // old one left to its right, and the end clears the old block's surplus.
  if (lines_ > 0) std::fprintf(out_, "\x1b[%dF", lines_);
  int lines = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::fwrite(text.data() + start, 1, end - start, out_);
    std::fputs("\x1b[K\n", out_);
    ++lines;
    start = end + 1;
  }
  std::fputs("\x1b[J", out_);
  std::fflush(out_);
  lines_ = lines;
}

int LiveScreen::Rows(std::FILE* out) {
  winsize size{};
  return WindowSize(out, &size) ? size.ws_row : kDefaultRows;
}

int LiveScreen::Columns(std::FILE* out) {
  winsize size{};
  return WindowSize(out, &size) ? size.ws_col : kDefaultColumns;
}

}  // namespace quarnex
