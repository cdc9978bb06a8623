#include <io.h>
#include <windows.h>

#include "platform/file_replace.h"

namespace bg {
namespace platform {

bool flushToDisk(FILE* f) {
  if (f == nullptr || fflush(f) != 0) return false;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
}

// rename refuses an existing target on Windows; MoveFileEx replaces it.
bool replaceFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace platform
}  // namespace bg
