#include "testapp/platform/message_quote.h"

namespace quarnex {

std::string QuoteForMessage(std::string_view text) {
  const bool cut = text.size() > kMaxQuotedLength;
  std::string quoted(text.substr(0, kMaxQuotedLength));
  for (char& c : quoted) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = '?';
  }
  if (cut) quoted += "...";
  return quoted;
}

}  // namespace quarnex
