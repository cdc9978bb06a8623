#include <malloc.h>

#include "platform/aligned_memory.h"

namespace bg {
namespace platform {

void* allocateAligned(size_t alignment, size_t size) {
  return _aligned_malloc(size, alignment);
}

void freeAligned(void* block) {
  _aligned_free(block);
}

}  // namespace platform
}  // namespace bg
