// Quoting a user's input in a message.
#ifndef QUARNEX_PLATFORM_MESSAGE_QUOTE_H_
#define QUARNEX_PLATFORM_MESSAGE_QUOTE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quarnex {

inline constexpr size_t kMaxQuotedLength = 80;

// At most kMaxQuotedLength bytes of `text`, followed by "..." when the text
// was longer; control characters read as '?'. A hostile input (a megabyte
// on one line, terminal escapes) never floods or rewrites the screen.
std::string QuoteForMessage(std::string_view text);

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_MESSAGE_QUOTE_H_
