// The thread-local last-error number, with the Windows values callers print.
#ifndef KQBRIDGE_PLATFORM_LAST_ERROR_H_
#define KQBRIDGE_PLATFORM_LAST_ERROR_H_

namespace bg {
namespace platform {

// Windows error numbers; messages that print "GLE=" or "libray err: %d" show
// these numbers on every platform.
enum WinError : unsigned {
  kErrSuccess = 0,
  kErrFileNotFound = 2,
  kErrTooManyOpenFiles = 4,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrNotEnoughMemory = 8,
  kErrNotSameDevice = 17,
  kErrWriteProtect = 19,
  kErrGenFailure = 31,
  kErrSharingViolation = 32,
  kErrNotSupported = 50,
  kErrInvalidParameter = 87,
  kErrBrokenPipe = 109,
  kErrDiskFull = 112,
  kErrInsufficientBuffer = 122,
  kErrModNotFound = 126,
  kErrProcNotFound = 127,
  kErrDirNotEmpty = 145,
  kErrBusy = 170,
  kErrAlreadyExists = 183,
  kErrBadExeFormat = 193,
  kErrFilenameTooLong = 206,
  kErrFileTooLarge = 223,
  kErrPipeBusy = 231,
  kErrDirectory = 267,
  kErrArithmeticOverflow = 534,
  kErrPipeConnected = 535,
  kErrOperationAborted = 995,
  kErrIoDevice = 1117,
  kErrDiskQuotaExceeded = 1295,
  kErrTimeout = 1460,
  kErrCantResolveFilename = 1921,
};

// The calling thread's last error, as GetLastError() would answer it.
unsigned getLastError();
void setLastError(unsigned code);
// The Windows number closest to a POSIX errno value: 2 missing file, 5
// permissions, 183 already exists, 145 directory not empty, ... Causes with
// no counterpart give 31 (general failure). EAGAIN gives 170 (busy): only
// the pipe calls know that it means a busy pipe there, and say so themselves.
unsigned winErrorFromErrno(int err);
// setLastError(winErrorFromErrno(errno)); returns the number stored.
unsigned setLastErrorFromErrno();

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_LAST_ERROR_H_
