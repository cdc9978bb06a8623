// The MD5 message digest (RFC 1321), in the reference structure: a
// four-word state, a 64-bit count of the bits hashed and a 64-byte buffer
// for the block being filled.
#ifndef KQBRIDGE_UTILS_MD5_H_
#define KQBRIDGE_UTILS_MD5_H_

#include <cstddef>
#include <cstdint>

namespace bg {

struct Md5Context {
  uint32_t state[4];
  uint64_t bitCount;
  uint8_t buffer[64];
};

void md5Init(Md5Context* ctx);
void md5Update(Md5Context* ctx, const void* data, size_t len);
// Pads, writes the 16 digest bytes and leaves the context to be initialised again.
void md5Final(Md5Context* ctx, uint8_t digest[16]);

}  // namespace bg

#endif  // KQBRIDGE_UTILS_MD5_H_
