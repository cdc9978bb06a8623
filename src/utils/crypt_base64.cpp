// bg::Crypt's Base64 coding over libavutil's codec.
extern "C" {
#include <libavutil/base64.h>
}

#include <cstdint>

#include "kqbridge/crypt.h"

namespace bg {

namespace {

// libavutil refuses inputs from this size on; so do we.
constexpr int kMaxEncodeInput = 1073741823;

int clampToInt(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : static_cast<int>(v);
}

// The Base64 text of n bytes, without terminator.
size_t encodedTextLength(size_t n) {
  return (n + 2) / 3 * 4;
}

}  // namespace

int Crypt::base64DecodedSize(int n) {
  return static_cast<int>(static_cast<int64_t>(n) * 3 / 4);
}

// Sizes beyond what an int holds are answered with INT32_MAX, which no
// buffer reaches and base64Encode refuses.
int Crypt::base64EncodedSize(int n) {
  return clampToInt((static_cast<int64_t>(n) + 2) / 3 * 4 + 1);
}

std::string Crypt::base64DecodeString(const std::string& text) {
  if (text.size() > static_cast<size_t>(INT32_MAX)) return std::string();
  int size = base64DecodedSize(static_cast<int>(text.size()));
  std::string out(static_cast<size_t>(size), '\0');
  int n = base64Decode(reinterpret_cast<uint8_t*>(&out[0]), text.c_str(), size);
  if (n < 0) return std::string();
  out.resize(static_cast<size_t>(n));
  return out;
}

// The text is read up to its terminator or '='; `outSize` bounds only what
// is written. A null `out` is treated as a buffer with no room, so the call
// only validates the text.
int Crypt::base64Decode(uint8_t* out, const char* text, int outSize) {
  if (text == nullptr) return -1;
  uint8_t none;
  if (out == nullptr || outSize < 0) {
    out = &none;
    outSize = 0;
  }
  int n = av_base64_decode(out, text, outSize);
  return n < 0 ? -1 : n;
}

std::string Crypt::base64EncodeString(const std::string& data) {
  if (data.size() >= static_cast<size_t>(kMaxEncodeInput)) return std::string();
  int inSize = static_cast<int>(data.size());
  int size = base64EncodedSize(inSize);
  std::string out(static_cast<size_t>(size), '\0');
  if (base64Encode(&out[0], size, reinterpret_cast<const uint8_t*>(data.data()), inSize) == nullptr) {
    return std::string();
  }
  out.resize(encodedTextLength(data.size()));
  return out;
}

char* Crypt::base64Encode(char* out, int outSize, const uint8_t* in, int inSize) {
  if (out == nullptr || inSize < 0 || inSize >= kMaxEncodeInput || (in == nullptr && inSize > 0))
    return nullptr;
  if (outSize < base64EncodedSize(inSize)) return nullptr;
  static const uint8_t kNothing = 0;
  return av_base64_encode(out, outSize, in != nullptr ? in : &kNothing, inSize);
}

}  // namespace bg
