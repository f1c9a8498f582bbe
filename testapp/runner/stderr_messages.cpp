#include "testapp/runner/stderr_messages.h"

namespace quarnex {

void StderrMessages::ShowError(std::string_view text) {
  std::lock_guard lock(mu_);
  messages_.emplace_back(text);
  std::fputs("Error: ", out_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void StderrMessages::ShowNotice(std::string_view text, std::string_view detail) {
  std::lock_guard lock(mu_);
  for (std::string_view line : {text, detail}) {
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
  }
  std::fflush(out_);
}

void StderrMessages::ShowWarning(std::string_view text) {
  std::lock_guard lock(mu_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

std::vector<std::string> StderrMessages::Messages() const {
  std::lock_guard lock(mu_);
  return messages_;
}

}  // namespace quarnex
