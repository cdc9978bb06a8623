// bg::Crypt's MD5 digests as hexadecimal text.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kqbridge/crypt.h"
#include "kqbridge/utils.h"
#include "utils/md5.h"

namespace bg {

namespace {

// 32 lower-case digits and a terminator in a malloc'd buffer; `mask`
// clears bits of every digest byte before it is written.
char* digestText(const uint8_t digest[16], uint8_t mask) {
  static const char kHexDigits[] = "0123456789abcdef";
  char* text = static_cast<char*>(malloc(33));
  if (text == nullptr) return nullptr;
  for (int i = 0; i < 16; ++i) {
    uint8_t b = digest[i] & mask;
    text[2 * i] = kHexDigits[b >> 4];
    text[2 * i + 1] = kHexDigits[b & 15];
  }
  text[32] = '\0';
  return text;
}

char* md5Text(const void* data, size_t len, uint8_t mask) {
  Md5Context ctx;
  md5Init(&ctx);
  md5Update(&ctx, data, len);
  uint8_t digest[16];
  md5Final(&ctx, digest);
  return digestText(digest, mask);
}

}  // namespace

// Null data or a negative length hash as no bytes at all.
char* Crypt::md5Buffer(const void* data, int len) {
  return md5Text(data, data != nullptr && len > 0 ? static_cast<size_t>(len) : 0, 0xFF);
}

char* Crypt::md5String(const char* s) {
  return md5Text(s, s != nullptr ? strlen(s) : 0, 0xFF);
}

char* Crypt::md5StringMasked(const char* s) {
  return md5Text(s, s != nullptr ? strlen(s) : 0, 0xFC);
}

char* Crypt::md5File(const char* path) {
  FILE* f = openFile(path, "rb");
  if (f == nullptr) return nullptr;
  Md5Context ctx;
  md5Init(&ctx);
  char chunk[10240];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) md5Update(&ctx, chunk, n);
  fclose(f);
  uint8_t digest[16];
  md5Final(&ctx, digest);
  return digestText(digest, 0xFF);
}

// A text shorter than 24 characters is left as it is.
void Crypt::md5Short(char* hex) {
  if (hex == nullptr || strnlen(hex, 24) < 24) return;
  memmove(hex, hex + 8, 16);
  hex[16] = '\0';
}

}  // namespace bg
