#include <cstdlib>

#include "platform/aligned_memory.h"

namespace bg {
namespace platform {

void* allocateAligned(size_t alignment, size_t size) {
  void* p = nullptr;
  return posix_memalign(&p, alignment, size) == 0 ? p : nullptr;
}

void freeAligned(void* block) {
  free(block);
}

}  // namespace platform
}  // namespace bg
