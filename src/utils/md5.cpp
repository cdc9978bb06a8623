#include "utils/md5.h"

#include <cstring>

namespace bg {

namespace {

inline uint32_t rotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

// The four auxiliary functions, each in the form with the fewest operations.
inline uint32_t f(uint32_t x, uint32_t y, uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline uint32_t g(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (z & (x ^ y));
}
inline uint32_t h(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
inline uint32_t i(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (x | ~z);
}

inline uint32_t loadLittleEndian(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
#else
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
#endif
}

inline void storeLittleEndian(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

#define MD5_STEP(fn, a, b, c, d, x, t, s) \
  (a) += fn(b, c, d) + (x) + (t);         \
  (a) = rotateLeft((a), (s)) + (b)

// Hashes `blocks` whole 64-byte blocks straight from `p`, without copying
// them into the context's buffer first.
void transform(uint32_t state[4], const uint8_t* p, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, p += 64) {
    uint32_t x[16];
    for (int k = 0; k < 16; ++k) x[k] = loadLittleEndian(p + 4 * k);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    MD5_STEP(f, a, b, c, d, x[0], 0xd76aa478, 7);
    MD5_STEP(f, d, a, b, c, x[1], 0xe8c7b756, 12);
    MD5_STEP(f, c, d, a, b, x[2], 0x242070db, 17);
    MD5_STEP(f, b, c, d, a, x[3], 0xc1bdceee, 22);
    MD5_STEP(f, a, b, c, d, x[4], 0xf57c0faf, 7);
    MD5_STEP(f, d, a, b, c, x[5], 0x4787c62a, 12);
    MD5_STEP(f, c, d, a, b, x[6], 0xa8304613, 17);
    MD5_STEP(f, b, c, d, a, x[7], 0xfd469501, 22);
    MD5_STEP(f, a, b, c, d, x[8], 0x698098d8, 7);
    MD5_STEP(f, d, a, b, c, x[9], 0x8b44f7af, 12);
    MD5_STEP(f, c, d, a, b, x[10], 0xffff5bb1, 17);
    MD5_STEP(f, b, c, d, a, x[11], 0x895cd7be, 22);
    MD5_STEP(f, a, b, c, d, x[12], 0x6b901122, 7);
    MD5_STEP(f, d, a, b, c, x[13], 0xfd987193, 12);
    MD5_STEP(f, c, d, a, b, x[14], 0xa679438e, 17);
    MD5_STEP(f, b, c, d, a, x[15], 0x49b40821, 22);

    MD5_STEP(g, a, b, c, d, x[1], 0xf61e2562, 5);
    MD5_STEP(g, d, a, b, c, x[6], 0xc040b340, 9);
    MD5_STEP(g, c, d, a, b, x[11], 0x265e5a51, 14);
    MD5_STEP(g, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    MD5_STEP(g, a, b, c, d, x[5], 0xd62f105d, 5);
    MD5_STEP(g, d, a, b, c, x[10], 0x02441453, 9);
    MD5_STEP(g, c, d, a, b, x[15], 0xd8a1e681, 14);
    MD5_STEP(g, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    MD5_STEP(g, a, b, c, d, x[9], 0x21e1cde6, 5);
    MD5_STEP(g, d, a, b, c, x[14], 0xc33707d6, 9);
    MD5_STEP(g, c, d, a, b, x[3], 0xf4d50d87, 14);
    MD5_STEP(g, b, c, d, a, x[8], 0x455a14ed, 20);
    MD5_STEP(g, a, b, c, d, x[13], 0xa9e3e905, 5);
    MD5_STEP(g, d, a, b, c, x[2], 0xfcefa3f8, 9);
    MD5_STEP(g, c, d, a, b, x[7], 0x676f02d9, 14);
    MD5_STEP(g, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    MD5_STEP(h, a, b, c, d, x[5], 0xfffa3942, 4);
    MD5_STEP(h, d, a, b, c, x[8], 0x8771f681, 11);
    MD5_STEP(h, c, d, a, b, x[11], 0x6d9d6122, 16);
    MD5_STEP(h, b, c, d, a, x[14], 0xfde5380c, 23);
    MD5_STEP(h, a, b, c, d, x[1], 0xa4beea44, 4);
    MD5_STEP(h, d, a, b, c, x[4], 0x4bdecfa9, 11);
    MD5_STEP(h, c, d, a, b, x[7], 0xf6bb4b60, 16);
    MD5_STEP(h, b, c, d, a, x[10], 0xbebfbc70, 23);
    MD5_STEP(h, a, b, c, d, x[13], 0x289b7ec6, 4);
    MD5_STEP(h, d, a, b, c, x[0], 0xeaa127fa, 11);
    MD5_STEP(h, c, d, a, b, x[3], 0xd4ef3085, 16);
    MD5_STEP(h, b, c, d, a, x[6], 0x04881d05, 23);
    MD5_STEP(h, a, b, c, d, x[9], 0xd9d4d039, 4);
    MD5_STEP(h, d, a, b, c, x[12], 0xe6db99e5, 11);
    MD5_STEP(h, c, d, a, b, x[15], 0x1fa27cf8, 16);
    MD5_STEP(h, b, c, d, a, x[2], 0xc4ac5665, 23);

    MD5_STEP(i, a, b, c, d, x[0], 0xf4292244, 6);
    MD5_STEP(i, d, a, b, c, x[7], 0x432aff97, 10);
    MD5_STEP(i, c, d, a, b, x[14], 0xab9423a7, 15);
    MD5_STEP(i, b, c, d, a, x[5], 0xfc93a039, 21);
    MD5_STEP(i, a, b, c, d, x[12], 0x655b59c3, 6);
    MD5_STEP(i, d, a, b, c, x[3], 0x8f0ccc92, 10);
    MD5_STEP(i, c, d, a, b, x[10], 0xffeff47d, 15);
    MD5_STEP(i, b, c, d, a, x[1], 0x85845dd1, 21);
    MD5_STEP(i, a, b, c, d, x[8], 0x6fa87e4f, 6);
    MD5_STEP(i, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    MD5_STEP(i, c, d, a, b, x[6], 0xa3014314, 15);
    MD5_STEP(i, b, c, d, a, x[13], 0x4e0811a1, 21);
    MD5_STEP(i, a, b, c, d, x[4], 0xf7537e82, 6);
    MD5_STEP(i, d, a, b, c, x[11], 0xbd3af235, 10);
    MD5_STEP(i, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    MD5_STEP(i, b, c, d, a, x[9], 0xeb86d391, 21);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_STEP

}  // namespace

void md5Init(Md5Context* ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->bitCount = 0;
}

void md5Update(Md5Context* ctx, const void* data, size_t len) {
  if (len == 0) return;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>((ctx->bitCount >> 3) & 63);
  ctx->bitCount += static_cast<uint64_t>(len) << 3;
  if (used > 0) {
    size_t room = 64 - used;
    if (len < room) {
      memcpy(ctx->buffer + used, p, len);
      return;
    }
    memcpy(ctx->buffer + used, p, room);
    transform(ctx->state, ctx->buffer, 1);
    p += room;
    len -= room;
  }
  transform(ctx->state, p, len / 64);
  memcpy(ctx->buffer, p + (len & ~static_cast<size_t>(63)), len & 63);
}

void md5Final(Md5Context* ctx, uint8_t digest[16]) {
  uint8_t length[8];
  for (int k = 0; k < 8; ++k) length[k] = static_cast<uint8_t>(ctx->bitCount >> (8 * k));
  size_t used = static_cast<size_t>((ctx->bitCount >> 3) & 63);
  static const uint8_t kPadding[64] = {0x80};
  md5Update(ctx, kPadding, used < 56 ? 56 - used : 120 - used);
  md5Update(ctx, length, 8);
  for (int k = 0; k < 4; ++k) storeLittleEndian(digest + 4 * k, ctx->state[k]);
  memset(ctx, 0, sizeof(*ctx));
}

}  // namespace bg
