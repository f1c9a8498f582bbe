// Quoting a user's input in a message.
#ifndef QUARNEX_PLATFORM_MESSAGE_QUOTE_H_
#define QUARNEX_PLATFORM_MESSAGE_QUOTE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quarnex {

inline constexpr size_t kMaxQuotedLength = 80;
// No path the system can open is longer (PATH_MAX), so a real path is
// always shown whole.
inline constexpr size_t kMaxQuotedPathLength = 4096;

// At most kMaxQuotedLength bytes of `text`, followed by "..." when the text
// was longer; control characters read as '?'. A hostile input (a megabyte
// on one line, terminal escapes) never floods or rewrites the screen.
std::string QuoteForMessage(std::string_view text);

// As QuoteForMessage, but keeps up to kMaxQuotedPathLength bytes: a user
// must see the whole path of the file that failed, yet a path of a
// megabyte still cannot flood the screen.
std::string QuotePathForMessage(std::string_view path);

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_MESSAGE_QUOTE_H_
