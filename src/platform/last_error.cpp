#include "platform/last_error.h"

#include <cerrno>

namespace bg {
namespace platform {

// The number for a C-runtime failure: the same table on every system.
unsigned winErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrSuccess;
    case ENOENT:
    case ECONNREFUSED:  // nobody serves the name: a pipe that does not exist
      return kErrFileNotFound;
    case EMFILE:
    case ENFILE:
      return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:  // opening a directory as a file is refused like this too
      return kErrAccessDenied;
    case EBADF:
      return kErrInvalidHandle;
    case ENOMEM:
      return kErrNotEnoughMemory;
    case EXDEV:
      return kErrNotSameDevice;
    case EROFS:
      return kErrWriteProtect;
    case ETXTBSY:
      return kErrSharingViolation;
    case ENOSYS:
    case EOPNOTSUPP:
#if EOPNOTSUPP != ENOTSUP
    case ENOTSUP:
#endif
      return kErrNotSupported;
    case EINVAL:
      return kErrInvalidParameter;
    case EPIPE:
    case ECONNRESET:
      return kErrBrokenPipe;
    case ENOSPC:
      return kErrDiskFull;
    case ERANGE:
      return kErrInsufficientBuffer;
    case ENOTEMPTY:
      return kErrDirNotEmpty;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EBUSY:
      return kErrBusy;
    case EEXIST:
      return kErrAlreadyExists;
    case ENOEXEC:
      return kErrBadExeFormat;
    case ENAMETOOLONG:
      return kErrFilenameTooLong;
    case EFBIG:
      return kErrFileTooLarge;
    case ENOTDIR:
      return kErrDirectory;
    case EOVERFLOW:
      return kErrArithmeticOverflow;
    case EINTR:
      return kErrOperationAborted;
    case EIO:
      return kErrIoDevice;
#if defined(EDQUOT)  // the Windows C runtime has no quotas
    case EDQUOT:
      return kErrDiskQuotaExceeded;
#endif
    case ETIMEDOUT:
      return kErrTimeout;
    case ELOOP:
      return kErrCantResolveFilename;
    default:
      return kErrGenFailure;
  }
}

unsigned setLastErrorFromErrno() {
  unsigned code = winErrorFromErrno(errno);
  setLastError(code);
  return code;
}

}  // namespace platform
}  // namespace bg
