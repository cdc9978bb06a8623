#include <windows.h>

#include "platform/last_error.h"

namespace bg {
namespace platform {

// The system keeps the number per thread itself.
unsigned getLastError() {
  return static_cast<unsigned>(GetLastError());
}

void setLastError(unsigned code) {
  SetLastError(static_cast<DWORD>(code));
}

}  // namespace platform
}  // namespace bg
