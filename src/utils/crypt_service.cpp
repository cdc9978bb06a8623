// bg::Crypt's byte-level operations: buffers, scrambling and hexadecimal text.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kqbridge/crypt.h"

namespace bg {

namespace {

const char kHexDigits[] = "0123456789abcdef";

uint8_t scrambleKey(uint8_t seed) {
  return static_cast<uint8_t>(seed % 250 + 2);
}

// The value of one hexadecimal digit, or -1.
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A pair is read like "%02x" reads it: digits up to the first character
// that is not one. A pair that starts with a non-digit stores 0.
uint8_t hexPairValue(const char* p, int len) {
  unsigned value = 0;
  for (int k = 0; k < len; ++k) {
    int digit = hexValue(p[k]);
    if (digit < 0) break;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<uint8_t>(value);
}

}  // namespace

Crypt::Crypt() = default;
Crypt::~Crypt() = default;

void Crypt::freeBuffer(void* p) {
  if (p != nullptr) free(p);
}

void Crypt::scramble(uint8_t* buf, int len, uint8_t seed) {
  if (buf == nullptr) return;
  const uint8_t k = scrambleKey(seed);
  for (int i = 0; i < len; ++i) buf[i] = static_cast<uint8_t>((buf[i] ^ k) + k);
}

void Crypt::unscramble(uint8_t* buf, int len, uint8_t seed) {
  if (buf == nullptr) return;
  const uint8_t k = scrambleKey(seed);
  for (int i = 0; i < len; ++i) buf[i] = static_cast<uint8_t>(static_cast<uint8_t>(buf[i] - k) ^ k);
}

// A buffer smaller than the 2n + 1 bytes the text needs is zeroed and
// nothing is written to it (result 0), rather than written past its end.
int Crypt::hexEncode(const uint8_t* in, int n, char* out, int outSize) {
  if (n < 1) return 0;
  const int64_t needed = 2 * static_cast<int64_t>(n) + 1;
  if (out == nullptr) return needed > INT32_MAX ? 0 : static_cast<int>(needed);
  if (outSize < 1 || in == nullptr) return 0;
  memset(out, 0, static_cast<size_t>(outSize));
  if (outSize < needed) return 0;
  for (int i = 0; i < n; ++i) {
    out[2 * i] = kHexDigits[in[i] >> 4];
    out[2 * i + 1] = kHexDigits[in[i] & 15];
  }
  return 2 * n;
}

// Likewise a buffer smaller than the (n + 1) / 2 bytes is zeroed and
// nothing is decoded into it (result 0).
int Crypt::hexDecode(const char* in, int n, uint8_t* out, int outSize) {
  if (n < 1) return 0;
  const int h = static_cast<int>((static_cast<int64_t>(n) + 1) / 2);
  if (out == nullptr) return h + 1;
  if (outSize < 1 || in == nullptr) return 0;
  memset(out, 0, static_cast<size_t>(outSize));
  if (outSize < h) return 0;
  for (int i = 0; i < h; ++i) {
    int pos = 2 * i;
    out[i] = hexPairValue(in + pos, n - pos >= 2 ? 2 : 1);
  }
  return h;
}

}  // namespace bg
