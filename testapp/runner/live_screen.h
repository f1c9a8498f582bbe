// LiveScreen: redraws a block of text in place on a terminal, as the
// runner's live table does once per report.
//
// Used by the runner's main thread only.
#ifndef QUARNEX_RUNNER_LIVE_SCREEN_H_
#define QUARNEX_RUNNER_LIVE_SCREEN_H_

#include <cstdio>
#include <string_view>

namespace quarnex {

class LiveScreen {
 public:
  // `out` must be a terminal and outlive this object.
  explicit LiveScreen(std::FILE* out) : out_(out) {}

  // Replaces the block drawn last with `text` (lines that end in "\n" and
  // are no wider than the terminal, or the cursor arithmetic breaks), then
  // flushes. The first call draws below the cursor.
  void Draw(std::string_view text);

  // The terminal's size, or 24 x 80 when it cannot be read.
  static int Rows(std::FILE* out);
  static int Columns(std::FILE* out);

 private:
  std::FILE* const out_;
  int lines_ = 0;  // lines of the block drawn last
};

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_LIVE_SCREEN_H_
