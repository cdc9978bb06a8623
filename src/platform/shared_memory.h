// Named blocks of memory shared between processes.
#ifndef KQBRIDGE_PLATFORM_SHARED_MEMORY_H_
#define KQBRIDGE_PLATFORM_SHARED_MEMORY_H_

#include <cstdint>
#include <string>

namespace bg {
namespace platform {

// A handle on a named block; the block lives while any handle on it is open.
struct SharedSegment;

// Opens the existing block called `name`; null when there is none.
SharedSegment* openSharedMemory(const char* name);
// Creates a block of `size` bytes called `name`, readable and writable by this
// user only; a block of that name made meanwhile by someone else is opened
// instead. Null on failure (also for a size of 0).
SharedSegment* createSharedMemory(const char* name, uint32_t size);
// Closes the handle; the last handle removes the name. True on success.
bool closeSharedMemory(SharedSegment* segment);
// A read-write view of the whole block (the size its creator gave); null on
// failure. Views stay valid after the handle is closed.
void* mapSharedMemory(SharedSegment* segment);
void unmapSharedMemory(void* view);
// The system object name a block name maps to.
std::string sharedMemoryObjectName(const char* name);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_SHARED_MEMORY_H_
