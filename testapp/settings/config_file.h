// The reader of the key=value configuration file ("quarnex.cfg") and the
// decimal conversion of its values.
//
// The file is read in pieces of at most kMaxPieceLength characters: a piece
// ends after a newline or after that many characters, and the rest of a
// longer line is a further piece treated like a line of its own. CR LF is
// read as LF (on every platform; a lone CR stays a CR). A piece is an entry
// when its first "=" stands at position p with 1 <= p < length - 1, the
// newline counted in the length; its key is exactly the text before that
// "=", its value everything after it, the newline included. Every other
// piece is skipped. A NUL byte ends the text of its piece: the rest of that
// piece is dropped, as a C string reader of the line would see it.
//
// Thread-safety: the functions keep no state of their own; the callback runs
// on the calling thread.
#ifndef QUARNEX_SETTINGS_CONFIG_FILE_H_
#define QUARNEX_SETTINGS_CONFIG_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quarnex {

inline constexpr size_t kMaxPieceLength = 98;

// Receives one entry: key and value are NUL-terminated and valid only during
// the call. Returns 0 to stop reading, anything else to go on.
using KeyValueCallback = std::function<int(const char* key, const char* value)>;

// The largest configuration file read; a larger one is refused unread.
inline constexpr uint64_t kMaxConfigFileSize = UINT32_MAX;

// Reads the file `file_name` (relative names resolve against the current
// directory) and hands every entry to `callback`. Returns 1 at the end of
// the file; or, when the callback returned 0, the 1-based number of that
// piece, skipped pieces counted; or -1 when the file cannot be used, with
// the reason in *reason: only a regular file of at most kMaxConfigFileSize
// bytes is read, opened without blocking (regular_file.h), and a failed
// read is a reason too. Writes nothing; the file is closed on every path.
int ReadKeyValueFile(const char* file_name, const KeyValueCallback& callback, std::string* reason);

// The same reader over a buffer in memory: returns 1 at the end of `text`
// or the number of the piece on which the callback returned 0.
int ParseKeyValueText(std::string_view text, const KeyValueCallback& callback);

// Reads a value as the C library's atoi does: leading white space, one
// optional sign, decimal digits up to the first other character; no digits
// give 0. The result is the low 32 bits of the number, without a range
// check and without overflow ("0x7E" gives 0, "99999999999" 1215752191).
int32_t ParseConfigInt(const char* value);

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_CONFIG_FILE_H_
