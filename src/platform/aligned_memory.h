// Heap blocks with a stated alignment.
#ifndef KQBRIDGE_PLATFORM_ALIGNED_MEMORY_H_
#define KQBRIDGE_PLATFORM_ALIGNED_MEMORY_H_

#include <cstddef>

namespace bg {
namespace platform {

// `size` bytes at an address that is a multiple of `alignment` (a power of
// two, at least the size of a pointer); null when the heap has no room.
// Released with freeAligned only, never with free.
void* allocateAligned(size_t alignment, size_t size);
void freeAligned(void* block);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_ALIGNED_MEMORY_H_
