#include "platform/last_error.h"

#include <cerrno>

namespace bg {
namespace platform {

namespace {
thread_local unsigned t_lastError = kErrSuccess;
}  // namespace

unsigned getLastError() {
  return t_lastError;
}

void setLastError(unsigned code) {
  t_lastError = code;
}

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
  t_lastError = code;
  return code;
}

}  // namespace platform
}  // namespace bg
