#include <unistd.h>

#include <cstdio>

#include "platform/file_replace.h"
#include "platform/last_error.h"
#include "platform/path.h"

namespace bg {
namespace platform {

bool flushToDisk(FILE* f) {
  return f != nullptr && fflush(f) == 0 && fsync(fileno(f)) == 0;
}

bool replaceFile(const char* from, const char* to) {
  if (from != nullptr && to != nullptr && rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0)
    return true;
  setLastErrorFromErrno();
  return false;
}

}  // namespace platform
}  // namespace bg
