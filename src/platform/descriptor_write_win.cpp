#include <io.h>

#include <climits>

#include "platform/descriptor_write.h"

namespace bg {
namespace platform {

long writeDescriptor(int fd, const void* data, size_t len) {
  if (fd < 0) return -1;
  unsigned count = len > UINT_MAX ? UINT_MAX : static_cast<unsigned>(len);
  return static_cast<long>(_write(fd, data, count));
}

}  // namespace platform
}  // namespace bg
