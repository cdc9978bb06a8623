// The decoders of outside text (Base64, hex, AES from Base64) take any bytes
// and never write past the buffer they were given.
#include <kqbridge/crypt.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const uint8_t kGuard = 0xA5;

// A buffer of `size` bytes followed by guard bytes that must stay untouched.
struct Guarded {
  explicit Guarded(int size) : bytes(static_cast<size_t>(size) + 16, kGuard), size(size) {}
  void check() const {
    for (size_t i = static_cast<size_t>(size); i < bytes.size(); ++i)
      if (bytes[i] != kGuard) abort();
  }
  std::vector<uint8_t> bytes;
  int size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static bg::Crypt crypt;
  const int outSize = data[0] % 64;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  Guarded b64(outSize);
  int n = crypt.base64Decode(b64.bytes.data(), text.c_str(), outSize);
  if (n > outSize || n < -1) abort();
  b64.check();
  crypt.base64DecodeString(text);

  Guarded hex(outSize);
  n = crypt.hexDecode(text.data(), static_cast<int>(text.size()), hex.bytes.data(), outSize);
  if (n > outSize) abort();
  hex.check();

  static const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  char* plain = nullptr;
  n = crypt.aes128DecryptFromBase64(text.c_str(), static_cast<int>(text.size()), &plain, key);
  if (n >= 0 && plain != nullptr && strlen(plain) > static_cast<size_t>(n)) abort();
  crypt.freeBuffer(plain);
  crypt.aes128DecryptString(text.c_str(), "k");

  static const char* const kKeys[] = {"0123456789abcdef", "0123456789abcdefghijklmn",
                                      "0123456789abcdef0123456789ABCDEF"};
  bool ok = false;
  std::string out = crypt.aesDecrypt(text, kKeys[data[0] % 3], &ok);
  if (ok ? out.size() >= text.size() && !text.empty() : !out.empty()) abort();
  return 0;
}
