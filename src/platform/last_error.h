// The thread-local last-error number, with the Windows values callers print.
#ifndef KQBRIDGE_PLATFORM_LAST_ERROR_H_
#define KQBRIDGE_PLATFORM_LAST_ERROR_H_

#include "kqbridge/export.h"

namespace bg {
namespace platform {

// Windows error numbers; messages that print "GLE=" or "libray err: %d" show
// these numbers on every platform.
enum WinError : unsigned {
  kErrSuccess = 0,
  kErrFileNotFound = 2,
  kErrAccessDenied = 5,
  kErrBrokenPipe = 109,
  kErrModNotFound = 126,
  kErrProcNotFound = 127,
  kErrBadExeFormat = 193,
  kErrPipeBusy = 231,
  kErrDirectory = 267,
  kErrPipeConnected = 535,
};

// The calling thread's last error, as GetLastError() would answer it.
KQ_EXPORT unsigned getLastError();
KQ_EXPORT void setLastError(unsigned code);
// The Windows number closest to a POSIX errno value (2 for unknown causes
// of a missing file, 5 for permissions, 109 for a broken pipe, ...).
KQ_EXPORT unsigned winErrorFromErrno(int err);
// setLastError(winErrorFromErrno(errno)); returns the number stored.
KQ_EXPORT unsigned setLastErrorFromErrno();

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_LAST_ERROR_H_
