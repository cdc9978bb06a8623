#include "platform/last_error.h"

namespace bg {
namespace platform {

// The system keeps no such number: one per thread of our own.
namespace {
thread_local unsigned t_lastError = kErrSuccess;
}  // namespace

unsigned getLastError() {
  return t_lastError;
}

void setLastError(unsigned code) {
  t_lastError = code;
}

}  // namespace platform
}  // namespace bg
