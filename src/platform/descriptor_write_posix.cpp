#include <unistd.h>

#include "platform/descriptor_write.h"

namespace bg {
namespace platform {

long writeDescriptor(int fd, const void* data, size_t len) {
  if (fd < 0) return -1;
  return static_cast<long>(::write(fd, data, len));
}

}  // namespace platform
}  // namespace bg
