#include <unistd.h>

#include <string>

#include "platform/folders.h"

namespace bg {
namespace platform {

// POSIX has no call for it; Linux shows the file it ran as a link.
std::string executablePath() {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", &buf[0], buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace platform
}  // namespace bg
