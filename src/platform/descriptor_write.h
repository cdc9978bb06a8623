// Unbuffered writes to a numbered file descriptor.
#ifndef KQBRIDGE_PLATFORM_DESCRIPTOR_WRITE_H_
#define KQBRIDGE_PLATFORM_DESCRIPTOR_WRITE_H_

#include <cstddef>

namespace bg {
namespace platform {

// One write call of `len` bytes to `fd`, as the C runtime's _write does;
// the count written or -1. A negative descriptor fails at once without a
// system call (the system would refuse it anyway).
long writeDescriptor(int fd, const void* data, size_t len);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_DESCRIPTOR_WRITE_H_
