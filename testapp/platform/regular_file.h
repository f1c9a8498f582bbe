// Opening and reading the files a user names: the configuration file, the
// transmit/compare file and the simulated source's file.
//
// A name may point at anything: a folder, a FIFO, a terminal, /dev/zero, a
// file far larger than memory. Only a regular file is accepted, and it is
// opened without blocking, so a FIFO without a writer never holds the
// caller. Every refusal comes with a short reason for the user.
//
// Thread-safety: the functions keep no state; call them from any thread.
#ifndef QUARNEX_PLATFORM_REGULAR_FILE_H_
#define QUARNEX_PLATFORM_REGULAR_FILE_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "testapp/platform/unique_fd.h"

namespace quarnex {

// The reasons, as they follow a message ("<path>: <reason>").
inline constexpr char kReasonNoSuchFile[] = "no such file";
inline constexpr char kReasonPermissionDenied[] = "permission denied";
inline constexpr char kReasonNotRegular[] = "not a regular file";
inline constexpr char kReasonTooLarge[] = "too large to hold";
inline constexpr char kReasonReadFailed[] = "read failed";

// An open regular file: its descriptor (blocking again after the open) and
// its size when it was opened.
struct OpenedFile {
  UniqueFd fd;
  uint64_t size = 0;
};

// Opens `path` for reading when it is a regular file of at most `max_size`
// bytes. On failure returns false, leaves `file` closed and stores one of
// the reasons above (or the system's text for a rarer error) in *reason.
bool OpenRegularFile(const char* path, uint64_t max_size, OpenedFile* file, std::string* reason);

// The whole contents of a regular file, read at once.
struct FileContents {
  std::unique_ptr<uint8_t[]> bytes;  // null when size is 0
  uint64_t size = 0;
};

// Opens `path` as OpenRegularFile does and reads all of it. Memory that
// cannot be had is refused as kReasonTooLarge, a short or failed read as
// kReasonReadFailed; nothing throws. On failure `contents` is left empty.
bool ReadRegularFile(const char* path, uint64_t max_size, FileContents* contents,
                     std::string* reason);

// Opens `path` for writing as fopen's "ab" (append) or "wb" (truncate)
// would, creating it with mode 0666 less the umask, but without blocking: a
// FIFO that nobody reads fails at once (errno ENXIO) instead of holding the
// caller. Returns null with errno set on failure.
std::FILE* OpenFileForWriting(const char* path, bool append);

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_REGULAR_FILE_H_
