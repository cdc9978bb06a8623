#include "platform/last_error.h"

#include <cerrno>

namespace bg {
namespace platform {

// The number for a C-runtime failure: the same table on every system.
unsigned winErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrSuccess;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrAccessDenied;
    case ENOTDIR:
      return kErrDirectory;
    case EPIPE:
    case ECONNRESET:
      return kErrBrokenPipe;
    case EAGAIN:
      return kErrPipeBusy;
    case ENOEXEC:
      return kErrBadExeFormat;
    case ECONNREFUSED:
    case ENOENT:
    default:
      return kErrFileNotFound;
  }
}

unsigned setLastErrorFromErrno() {
  unsigned code = winErrorFromErrno(errno);
  setLastError(code);
  return code;
}

}  // namespace platform
}  // namespace bg
