// bg::Crypt's AES operations over libavutil's block cipher. The text
// operations call the primitives through this object's own table, so a
// derived class that replaces a primitive changes them too.
extern "C" {
#include <libavutil/aes.h>
#include <libavutil/mem.h>
}

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kqbridge/crypt.h"
#include "platform/console.h"

namespace bg {

namespace {

// Texts whose cipher text could not be Base64-coded any more are refused
// before anything is allocated.
constexpr size_t kMaxPlainText = 1073741823 - 64;

bool isAesKeyLength(size_t k) {
  return k == 16 || k == 24 || k == 32;
}

void complain(const char* message) {
  platform::consoleError("%s", message);
}

// A pad count that padding cannot have produced (0, more than one padding
// block, or more than the data) marks a wrong key or damaged text.
bool isPlausiblePad(int pad, int blockLen, int dataLen) {
  return pad >= 1 && pad <= blockLen && pad <= dataLen;
}

// The 16 key bytes of the text-key operations: the text up to its
// terminator, cut after 16 bytes or filled up with zero bytes.
void textKey(const char* key, uint8_t out[16]) {
  memset(out, 0, 16);
  memcpy(out, key, strnlen(key, 16));
}

}  // namespace

void* Crypt::aesAlloc() {
  return av_aes_alloc();
}

void Crypt::aesFree(void** ctx) {
  if (ctx != nullptr && *ctx != nullptr) {
    av_free(*ctx);
    *ctx = nullptr;
  }
}

// A missing context or key is refused like a wrong key size.
int Crypt::aesInit(void* ctx, const uint8_t* key, int keyBits, int decrypt) {
  if (keyBits != 128 && keyBits != 192 && keyBits != 256) return EINVAL;
  if (ctx == nullptr || key == nullptr) return EINVAL;
  return av_aes_init(static_cast<AVAES*>(ctx), key, keyBits, decrypt) == 0 ? 0 : EINVAL;
}

int Crypt::aesCrypt(void* ctx, uint8_t* dst, const uint8_t* src, int count, uint8_t* iv, int decrypt) {
  if (ctx != nullptr && dst != nullptr && src != nullptr && count > 0) {
    av_aes_crypt(static_cast<AVAES*>(ctx), dst, src, count, iv, decrypt);
  }
  return 0;
}

// The padding fills up to a multiple of the key length, not of the 16-byte
// block; with a 24- or 32-byte key only the first m / k blocks are
// encrypted and the rest of the buffer goes out as it is.
std::string Crypt::aesEncrypt(const std::string& plain, const std::string& key, bool* ok) {
  if (ok != nullptr) *ok = false;
  if (!isAesKeyLength(key.size())) {
    complain("[aes] password len must be 16 or 24 or 32\n");
    return std::string();
  }
  if (plain.size() > kMaxPlainText) return std::string();
  const int k = static_cast<int>(key.size());
  void* ctx = aesAlloc();
  if (aesInit(ctx, reinterpret_cast<const uint8_t*>(key.data()), k * 8, 0) != 0) {
    complain("[aes] init error\n");
    aesFree(&ctx);
    return std::string();
  }
  const int n = static_cast<int>(plain.size());
  const int m = n - n % k + k;
  uint8_t* src = static_cast<uint8_t*>(malloc(static_cast<size_t>(m)));
  if (src == nullptr) {
    platform::consoleError("[aes] malloc src (nbytes=%d) error\n", m);
    aesFree(&ctx);
    return std::string();
  }
  memcpy(src, plain.data(), static_cast<size_t>(n));
  memset(src + n, m - n, static_cast<size_t>(m - n));
  aesCrypt(ctx, src, src, m / k, nullptr, 0);
  aesFree(&ctx);

  const int size = base64EncodedSize(m);
  char* dst = static_cast<char*>(malloc(static_cast<size_t>(size)));
  if (dst == nullptr) {
    platform::consoleError("[base64] malloc dst (nbytes=%d) error\n", size);
    free(src);
    return std::string();
  }
  memset(dst, 0, static_cast<size_t>(size));
  std::string out;
  if (base64Encode(dst, size, src, m) != nullptr) {
    out = dst;
    if (ok != nullptr) *ok = true;
  }
  free(dst);
  free(src);
  return out;
}

// Text that decodes to nothing, or whose last byte is no pad count the
// encryption could have written, gives an empty result with *ok false.
std::string Crypt::aesDecrypt(const std::string& text, const std::string& key, bool* ok) {
  if (ok != nullptr) *ok = false;
  if (!isAesKeyLength(key.size())) {
    complain("[aes] password len must be 16 or 24 or 32\n");
    return std::string();
  }
  if (text.size() > static_cast<size_t>(INT32_MAX)) return std::string();
  const int k = static_cast<int>(key.size());
  const int size = base64DecodedSize(static_cast<int>(text.size()));
  // One byte more than asked for, so that an empty text still gets a buffer.
  uint8_t* buf = static_cast<uint8_t*>(malloc(static_cast<size_t>(size) + 1));
  if (buf == nullptr) {
    platform::consoleError("[baseb4] malloc (nbytes=%d) failed...\n", size);
    return std::string();
  }
  const int len = base64Decode(buf, text.c_str(), size);
  if (len < 0) {
    platform::consoleError("[baseb4] decode (inlen=%d, out=%d) failed...\n", size, len);
    free(buf);
    return std::string();
  }
  if (len == 0) {
    free(buf);
    return std::string();
  }
  void* ctx = aesAlloc();
  if (aesInit(ctx, reinterpret_cast<const uint8_t*>(key.data()), k * 8, 1) != 0) {
    complain("[aes] init error\n");
    aesFree(&ctx);
    free(buf);
    return std::string();
  }
  aesCrypt(ctx, buf, buf, len / k, nullptr, 1);
  aesFree(&ctx);
  const int pad = buf[len - 1];
  std::string out;
  if (isPlausiblePad(pad, k, len)) {
    out.assign(reinterpret_cast<const char*>(buf), static_cast<size_t>(len - pad));
    if (ok != nullptr) *ok = true;
  }
  free(buf);
  return out;
}

// Null input or nowhere to put the text count as nothing to encrypt (0).
// The caller supplies 16 key bytes; a null key fails like a bad one (-1).
int Crypt::aes128EncryptToBase64(const uint8_t* in, int inLen, char** out, const uint8_t* key) {
  if (inLen < 1 || in == nullptr || out == nullptr) return 0;
  void* ctx = aesAlloc();
  if (aesInit(ctx, key, 128, 0) != 0) {
    aesFree(&ctx);
    return -1;
  }
  const int pad = 16 - inLen % 16;
  uint8_t* buf =
      inLen <= INT32_MAX - pad ? static_cast<uint8_t*>(malloc(static_cast<size_t>(inLen) + pad)) : nullptr;
  if (buf == nullptr) {
    aesFree(&ctx);
    return -2;
  }
  const int m = inLen + pad;
  memset(buf, pad, static_cast<size_t>(m));
  memcpy(buf, in, static_cast<size_t>(inLen));
  aesCrypt(ctx, buf, buf, m / 16, nullptr, 0);
  aesFree(&ctx);
  const int size = base64EncodedSize(m);
  *out = static_cast<char*>(malloc(static_cast<size_t>(size)));
  if (*out != nullptr && base64Encode(*out, size, buf, m) == nullptr) {
    free(*out);
    *out = nullptr;
  }
  free(buf);
  return *out != nullptr ? size : -3;
}

std::string Crypt::aes128EncryptString(const char* in, const char* key) {
  if (in == nullptr || key == nullptr) return std::string();
  uint8_t k[16];
  textKey(key, k);
  char* text = nullptr;
  std::string out;
  if (aes128EncryptToBase64(reinterpret_cast<const uint8_t*>(in), static_cast<int>(strlen(in)), &text, k) >
          0 &&
      text != nullptr) {
    out = text;
  }
  freeBuffer(text);
  return out;
}

// Failures: -1 allocation, -2 a text that is not Base64 or does not decode
// to whole 16-byte blocks (nothing included), -3 the key, -4 a pad count
// that padding cannot have produced (a wrong key or damaged text).
int Crypt::aes128DecryptFromBase64(const char* text, int textLen, char** out, const uint8_t* key) {
  if (textLen < 1 || out == nullptr) return 0;
  *out = nullptr;
  if (text == nullptr) return -2;
  const int size = base64DecodedSize(textLen);
  uint8_t* decoded = static_cast<uint8_t*>(malloc(static_cast<size_t>(size) + 1));
  if (decoded == nullptr) return -1;
  const int len = base64Decode(decoded, text, size);
  if (len <= 0 || len % 16 != 0) {
    free(decoded);
    return -2;
  }
  uint8_t* plain = static_cast<uint8_t*>(malloc(static_cast<size_t>(len) + 1));
  if (plain == nullptr) {
    free(decoded);
    return -1;
  }
  void* ctx = aesAlloc();
  if (aesInit(ctx, key, 128, 1) != 0) {
    aesFree(&ctx);
    free(plain);
    free(decoded);
    return -3;
  }
  aesCrypt(ctx, plain, decoded, len / 16, nullptr, 1);
  aesFree(&ctx);
  free(decoded);
  const int pad = plain[len - 1];
  if (!isPlausiblePad(pad, 16, len)) {
    free(plain);
    return -4;
  }
  plain[len - pad] = '\0';
  *out = reinterpret_cast<char*>(plain);
  return len - pad;
}

std::string Crypt::aes128DecryptString(const char* text, const char* key) {
  if (text == nullptr || key == nullptr) return std::string();
  uint8_t k[16];
  textKey(key, k);
  char* plain = nullptr;
  std::string out;
  if (aes128DecryptFromBase64(text, static_cast<int>(strlen(text)), &plain, k) >= 0 && plain != nullptr)
    out = plain;
  freeBuffer(plain);
  return out;
}

}  // namespace bg
