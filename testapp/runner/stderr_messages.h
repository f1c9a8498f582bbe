// StderrMessages: the runner's start-up messages. Where the window shows a
// box captioned "Error", the runner writes "Error: " and the same text as
// one line on standard error, and keeps the texts for the summary.
//
// Thread-safety: any thread; one mutex orders the lines and guards the
// kept texts.
#ifndef QUARNEX_RUNNER_STDERR_MESSAGES_H_
#define QUARNEX_RUNNER_STDERR_MESSAGES_H_

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/report/results_view.h"

namespace quarnex {

class StderrMessages : public MessageSink {
 public:
  // `out` (standard error unless a test passes another stream) must outlive
  // this object.
  explicit StderrMessages(std::FILE* out = stderr) : out_(out) {}

  // Writes "Error: <text>" and a line feed; a text of several lines keeps
  // its line feeds, as the box shows them. Flushed at once.
  void ShowError(std::string_view text) override;
  // Standard output carries the runner's results, so the notice comes here
  // too: `text` and `detail`, a line each.
  void ShowNotice(std::string_view text, std::string_view detail) override;
  // The text as one line.
  void ShowWarning(std::string_view text) override;

  // Every text shown, oldest first.
  std::vector<std::string> Messages() const;

 private:
  std::FILE* const out_;
  mutable std::mutex mu_;
  std::vector<std::string> messages_;  // guarded by mu_
};

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_STDERR_MESSAGES_H_
