#include "testapp/platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "testapp/platform/open_error.h"

namespace quarnex {
namespace {

#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
// Windows opens files in text mode unless told otherwise.
#ifndef O_BINARY
#define O_BINARY 0
#endif

// Back to blocking reads and writes once the open no longer can wait.
void ClearNonBlocking(int fd) {
#if defined(F_GETFL)
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#else
  (void)fd;  // Windows: no FIFOs or terminals behind a path, nothing waits
#endif
}

std::string ReasonOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kReasonNoSuchFile;
    case EACCES:
    case EPERM:
      return kReasonPermissionDenied;
    default:
      return OpenErrorText(error);
  }
}

}  // namespace

bool OpenRegularFile(const char* path, uint64_t max_size, OpenedFile* file, std::string* reason) {
  file->fd.Reset();
  file->size = 0;
  // Non-blocking: opening a FIFO for reading would otherwise wait for a
  // writer, and a terminal for its carrier.
  UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_BINARY));
  if (!fd.valid()) {
    const int error = errno;
#if defined(_WIN32)
    // Windows refuses to open a folder at all.
    struct stat folder;
    if (error == EACCES && ::stat(path, &folder) == 0 && !S_ISREG(folder.st_mode)) {
      *reason = kReasonNotRegular;
      return false;
    }
#endif
    *reason = ReasonOf(error);
    return false;
  }
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) {
    *reason = ReasonOf(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *reason = kReasonNotRegular;
    return false;
  }
  const uint64_t size = info.st_size < 0 ? 0 : static_cast<uint64_t>(info.st_size);
  if (size > max_size) {
    *reason = kReasonTooLarge;
    return false;
  }
  // Reads of a regular file never wait anyway; the flag goes so that
  // callers see the plain blocking semantics they expect.
  ClearNonBlocking(fd.get());
  file->fd = std::move(fd);
  file->size = size;
  return true;
}

bool ReadRegularFile(const char* path, uint64_t max_size, FileContents* contents,
                     std::string* reason) {
  contents->bytes.reset();
  contents->size = 0;
  OpenedFile file;
  if (!OpenRegularFile(path, max_size, &file, reason)) return false;
  if (file.size == 0) return true;
  if (file.size > static_cast<uint64_t>(SIZE_MAX)) {
    *reason = kReasonTooLarge;
    return false;
  }
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[static_cast<size_t>(file.size)]);
  if (bytes == nullptr) {
    *reason = kReasonTooLarge;
    return false;
  }
  // The size is the one seen at the open: a file that shrinks meanwhile is
  // a failed read, one that grows is read up to that size.
  uint64_t done = 0;
  while (done < file.size) {
    const ssize_t n =
        ::read(file.fd.get(), bytes.get() + done, static_cast<size_t>(file.size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *reason = kReasonReadFailed;
      return false;
    }
    done += static_cast<uint64_t>(n);
  }
  contents->bytes = std::move(bytes);
  contents->size = file.size;
  return true;
}

std::FILE* OpenFileForWriting(const char* path, bool append) {
  const int flags =
      O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_BINARY | (append ? O_APPEND : O_TRUNC);
  UniqueFd fd(::open(path, flags, 0666));
  if (!fd.valid()) return nullptr;
  // Writes block as the stream expects (a FIFO whose reader is slow).
  ClearNonBlocking(fd.get());
  std::FILE* file = ::fdopen(fd.get(), append ? "ab" : "wb");
  if (file != nullptr) fd.Release();
  return file;
}

}  // namespace quarnex
