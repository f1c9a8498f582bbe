#include "testapp/settings/config_file.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "testapp/platform/regular_file.h"

namespace quarnex {

namespace {

// What a byte source returns besides a byte (0..255).
constexpr int kEndOfInput = -1;
constexpr int kReadFailed = -2;
constexpr int kNothingPushed = -3;

constexpr int kResultEnd = 1;
constexpr int kResultError = -1;

// Turns CR LF into LF ahead of the piece splitting, as the platform's text
// mode would, so a file saved with CR LF line ends reads the same and the
// piece length counts the translated characters.
template <typename NextByte>
struct CrLfReader {
  NextByte next_byte;
  int pushed = kNothingPushed;

  int Get() {
    int c;
    if (pushed != kNothingPushed) {
      c = pushed;
      pushed = kNothingPushed;
    } else {
      c = next_byte();
    }
    if (c != '\r') return c;
    const int following = next_byte();
    if (following == '\n') return '\n';
    pushed = following;  // also an end or a failure: reported on the next call
    return '\r';
  }
};

// Applies the entry rule to one NUL-terminated piece and calls the callback
// for an entry. Returns the callback's answer, or 1 for a skipped piece.
int HandlePiece(char* piece, const KeyValueCallback& callback) {
  const size_t length = std::strlen(piece);
  char* equals = static_cast<char*>(std::memchr(piece, '=', length));
  if (equals == nullptr) return 1;
  const size_t position = static_cast<size_t>(equals - piece);
  if (position < 1 || position + 1 >= length) return 1;
  *equals = '\0';
  return callback(piece, equals + 1);
}

// The reader shared by the file and the memory entry points: splits the
// bytes of `next_byte` into pieces and hands the entries to `callback`.
template <typename NextByte>
int ReadPieces(NextByte next_byte, const KeyValueCallback& callback) {
  CrLfReader<NextByte> reader{next_byte};
  char piece[kMaxPieceLength + 1];
  int piece_number = 0;
  for (;;) {
    size_t length = 0;
    int stop = 0;
    while (length < kMaxPieceLength) {
      const int c = reader.Get();
      if (c < 0) {
        stop = c;
        break;
      }
      piece[length++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    // A failure loses the piece it cut, as a line reader reports nothing then.
    if (stop == kReadFailed) return kResultError;
    if (length == 0) return kResultEnd;
    piece[length] = '\0';
    if (piece_number < INT_MAX) ++piece_number;
    if (HandlePiece(piece, callback) == 0) return piece_number;
    if (stop == kEndOfInput) return kResultEnd;
  }
}

}  // namespace

int ReadKeyValueFile(const char* file_name, const KeyValueCallback& callback, std::string* reason) {
  OpenedFile opened;
  if (!OpenRegularFile(file_name, kMaxConfigFileSize, &opened, reason)) return kResultError;
  // Binary mode: the CR LF translation is ours, the same on every platform.
  std::FILE* file = fdopen(opened.fd.get(), "rb");
  if (file == nullptr) {
    *reason = kReasonReadFailed;
    return kResultError;
  }
  opened.fd.Release();  // the stream owns the descriptor now
  const int result = ReadPieces(
      [file]() {
        const int c = std::getc(file);
        if (c != EOF) return c;
        return std::ferror(file) ? kReadFailed : kEndOfInput;
      },
      callback);
  std::fclose(file);
  if (result == kResultError) *reason = kReasonReadFailed;
  return result;
}

int ParseKeyValueText(std::string_view text, const KeyValueCallback& callback) {
  size_t next = 0;
  return ReadPieces(
      [text, &next]() {
        if (next >= text.size()) return kEndOfInput;
        return static_cast<int>(static_cast<unsigned char>(text[next++]));
      },
      callback);
}

int32_t ParseConfigInt(const char* value) {
  const auto* p = reinterpret_cast<const unsigned char*>(value);
  // The C locale's white space, whatever locale the program set.
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Unsigned arithmetic wraps, which keeps exactly the low 32 bits.
  uint32_t magnitude = 0;
  while (*p >= '0' && *p <= '9') {
    magnitude = magnitude * 10u + static_cast<uint32_t>(*p - '0');
    ++p;
  }
  return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

}  // namespace quarnex
