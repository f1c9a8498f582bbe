#include "testapp/platform/message_quote.h"

namespace quarnex {

namespace {

std::string Quote(std::string_view text, size_t max_length) {
  const bool cut = text.size() > max_length;
  std::string quoted(text.substr(0, max_length));
  for (char& c : quoted) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = '?';
  }
  if (cut) quoted += "...";
  return quoted;
}

}  // namespace

std::string QuoteForMessage(std::string_view text) { return Quote(text, kMaxQuotedLength); }

std::string QuotePathForMessage(std::string_view path) { return Quote(path, kMaxQuotedPathLength); }

}  // namespace quarnex
