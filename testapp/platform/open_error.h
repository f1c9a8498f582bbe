// Naming the failure of an open: running out of descriptors is said as
// such, with the limit that was met, so a user knows to raise the limit
// (ulimit -n) rather than look for a fault in the file or the device.
//
// Thread-safety: no state; any thread.
#ifndef QUARNEX_PLATFORM_OPEN_ERROR_H_
#define QUARNEX_PLATFORM_OPEN_ERROR_H_

#include <string>

namespace quarnex {

// True for the errors of a process (EMFILE) or a system (ENFILE) that has
// no descriptor left.
bool IsTooManyOpenFiles(int error);

// "too many open files (limit N)", N the process's soft RLIMIT_NOFILE as
// it is now ("unlimited" when there is none; without the limit where the
// system has no such limit).
std::string TooManyOpenFilesText();

// The reason for a failed open: TooManyOpenFilesText() for the errors
// above, else the system's text in English whatever the locale.
std::string OpenErrorText(int error);

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_OPEN_ERROR_H_
